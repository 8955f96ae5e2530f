// The formats the file check reads, a file each: zip packages (.pptx, .odp
// and their kin) and compound files (.ppt).
#pragma once

#include "FileBytes.h"
#include "PresentationFile.h"

namespace pradelux::office {

// A part as a message names it: quoted, so that an odd name (spaces, an
// empty one) stands out as a name.
QString PartName(const QString& name);
FileKind Damaged(const QString& why);

FileKind InspectZip(Bytes& b, qint64 unpackLimit);
FileKind InspectCompound(Bytes& b);

} // namespace pradelux::office
