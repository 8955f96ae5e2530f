// What the file check takes from the records of a PowerPoint 97-2003
// document stream (.ppt): its slides and the letters it prints.
#pragma once

#include "DeckXml.h"

#include <QtGlobal>

#include <functional>

namespace pradelux::office {

// The byte of the stream at an offset; 0 past its end.
using StreamByte = std::function<quint64(quint64)>;

// The slides of the document: the slide persist atoms in its list of slides.
// -1 when the records do not nest as they should, when the list is not there
// once, or when the stream holds more than one document (saved by fast save).
int PptSlides(const StreamByte& byteAt, quint64 size);

// Gathers into letters what the stream prints beyond ASCII: its text (of
// slides, masters, notes, headers and footers, names), and the bullets of its
// paragraph styles. Leaves them unknown for what draws letters the records
// do not hold (an embedded object, a metafile, WordArt, numbers in letters
// other than ASCII) and for records that cannot be read.
void GatherPptLetters(const StreamByte& byteAt, quint64 size, DeckLetters& letters);

} // namespace pradelux::office
