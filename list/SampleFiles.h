// The sample presentations in the "Samples" folder beside the program: the
// record made at start-up, and "Load Sample/Example Files".
#pragma once

#include <QString>
#include <functional>

namespace pradelux {

class Dialogs;
class PresentationList;
class SettingsStore;
class Shell;

inline const QString kSamplesFolder = QStringLiteral("Samples");
inline const QString kOpenSamplesQuestion =
    QStringLiteral("Would you like this software to open the folder where these sample files are stored (so that you "
                   "can view them before working with them)?");

// Records the files of the Samples folder, scrambled, as "Snapshot"; with no
// files the record is empty and the next start-up tries again.
void RecordSampleFiles(const QString& appFolder, SettingsStore& settings, const std::function<void()>& yield);

// True when some row has exactly this text.
bool IsListed(const PresentationList& list, const QString& path);

struct SampleContext
{
    PresentationList& list;
    SettingsStore& settings;
    Dialogs& dialogs;
    Shell& shell;
    QString appFolder;
    std::function<void()> yield;
};

// Adds the recorded samples that still exist and are not listed, then offers
// to open the Samples folder.
void LoadSampleFiles(SampleContext& context);
// "Load Sample/Example Files": LoadSampleFiles under its trap.
void PushButton6_Click(SampleContext& context);

} // namespace pradelux
