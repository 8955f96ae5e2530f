// The sample presentations beside the program.
#include "SampleFiles.h"

#include "AddFolder.h"
#include "Dialogs.h"
#include "ErrorReport.h"
#include "Files.h"
#include "PresentationList.h"
#include "SampleRecord.h"
#include "SettingsStore.h"
#include "Shell.h"

namespace pradelux {

void RecordSampleFiles(const QString& appFolder, SettingsStore& settings, const std::function<void()>& yield)
{
    const QString folder = appFolder + kSeparator + kSamplesFolder;
    const QStringList names = ListFiles(folder, QStringLiteral("*.*"));
    QStringList paths;
    for (int i = 1; i < names.size(); ++i)
        paths << folder + kSeparator + names[i];
    settings.WriteSetting(settings::kSnapshot, ScrambleText(paths.join(QLatin1Char('|')), kScrambleKey, yield));
}

bool IsListed(const PresentationList& list, const QString& path)
{
    bool listed = false;
    for (int i = 1; i <= list.Count(); ++i)
        listed = list.Entry(i) == path || listed;
    return listed;
}

void LoadSampleFiles(SampleContext& context)
{
    const QString record =
        UnscrambleText(context.settings.ReadSetting(settings::kSnapshot, QString()), kScrambleKey, context.yield);
    const QStringList parts = record.isEmpty() ? QStringList() : record.split(QLatin1Char('|'));
    for (const QString& part : parts) {
        if (FileExists(part) && !IsListed(context.list, part))
            context.list.AppendEntry(part);
    }
    if (context.dialogs.msgBox(kOpenSamplesQuestion, msgbox::kYesNo) == msgbox::kYes)
        context.shell.openFolder(context.appFolder + kSeparator + kSamplesFolder + kSeparator);
}

void PushButton6_Click(SampleContext& context)
{
    ErrorTrap trap(context.dialogs, tags::kSamples);
    trap(100, [&] { LoadSampleFiles(context); });
}

} // namespace pradelux
