// The per-user settings of the program: text values under Veltrande / Pradelux.
#pragma once

#include <QString>

namespace pradelux {

namespace settings {
inline const QString kLocation = QStringLiteral("Location");
inline const QString kLastFolder = QStringLiteral("LastFolder");
inline const QString kLastFolderDot = QStringLiteral("LastFolderDot");
inline const QString kExtension = QStringLiteral("Extension");
inline const QString kSnapshot = QStringLiteral("Snapshot");
// "0": the window's rows of one folder share a LibreOffice; anything else,
// or none stored: every row gets one of its own, started during the pauses
// of the row before.
inline const QString kIsolateRows = QStringLiteral("IsolateRows");
} // namespace settings

// Every read asks the file and every write reaches it at once; nothing is
// cached between calls and nothing is written at exit.
class SettingsStore
{
public:
    // file: the INI file; empty text picks Veltrande/Pradelux.ini in the
    // user's config folder.
    explicit SettingsStore(QString file = QString());

    // The stored text, or the default when the key is absent. A stored empty
    // text is returned as it is.
    QString ReadSetting(const QString& key, const QString& defaultValue) const;
    // Stores the text; throws a Failure when it could not be written.
    void WriteSetting(const QString& key, const QString& text);

    const QString& file() const { return m_file; }
    static QString defaultFile();

private:
    QString m_file;
};

} // namespace pradelux
