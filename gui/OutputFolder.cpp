// The output folder: the "..." button that picks it.
#include "AddFolder.h"
#include "ErrorReport.h"
#include "Form1.h"
#include "Paths.h"
#include "SettingsStore.h"

#include <QLineEdit>

namespace pradelux {

void Form1::PushButton7_Click()
{
    ErrorTrap trap(m_services.dialogs, tags::kOutputFolder);
    QString chosen;
    trap(100, [&] { m_lastOutputFolder = m_services.settings.ReadSetting(settings::kLastFolderDot, QString()); });
    trap(100, [&] { chosen = BrowseForFolder(m_services.dialogs, texts::kFolderPrompt, m_lastOutputFolder); });
    if (chosen.isEmpty())
        return;
    trap(104, [&] { m_lastOutputFolder = chosen; });
    trap(104, [&] { m_services.settings.WriteSetting(settings::kLastFolderDot, chosen); });
    // The root already ends in the separator; every other folder gets one.
    if (chosen.endsWith(kSeparator))
        trap(108, [&] { m_text->setText(chosen); });
    else
        trap(106, [&] { m_text->setText(chosen + kSeparator); });
}

} // namespace pradelux
