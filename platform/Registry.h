// The per-user registry: keys under HKEY_CURRENT_USER holding string values.
#pragma once

#include <QHash>
#include <QString>
#include <optional>

namespace pradelux {

// Result codes as the registry functions return them; 0 is success.
namespace registry {
constexpr long kSuccess = 0;
constexpr long kFileNotFound = 2;
constexpr long kAccessDenied = 5;
constexpr long kInvalidHandle = 6;
constexpr long kInvalidParameter = 87;
} // namespace registry

class Registry
{
public:
    using Key = int;
    virtual ~Registry() = default;
    // Creates the key below HKEY_CURRENT_USER, or opens it when it exists.
    virtual long createKey(const QString& subKey, Key* key) = 0;
    virtual long setStringValue(Key key, const QString& name, const QString& text) = 0;
    virtual long closeKey(Key key) = 0;
    virtual std::optional<QString> readString(const QString& subKey, const QString& name) const = 0;
};

// Keys are folders and values are files below the user's config folder; each
// value is replaced atomically, so a reader in another process sees either the
// old text or the new one.
class FileRegistry : public Registry
{
public:
    // root: the folder that stands for HKEY_CURRENT_USER; empty text picks the
    // user's config folder.
    explicit FileRegistry(QString root = QString());

    long createKey(const QString& subKey, Key* key) override;
    long setStringValue(Key key, const QString& name, const QString& text) override;
    long closeKey(Key key) override;
    std::optional<QString> readString(const QString& subKey, const QString& name) const override;

    static QString defaultRoot();
    // The folder that holds a key's values.
    QString folderOf(const QString& subKey) const;

private:
    QString m_root;
    QHash<Key, QString> m_open;
    Key m_next = 1;
};

// The presentation application's own options, read for each presentation it
// prints, as the printer reads its values for each job. A run sets them for
// its rows while it holds the export lock.
namespace officeoptions {
inline const QString kKey = QStringLiteral("Software\\Pradelux Office");
// "1": every presentation is printed by a LibreOffice that printed nothing
// before; otherwise one LibreOffice prints consecutive presentations of the
// same folder.
inline const QString kIsolateRows = QStringLiteral("IsolateRows");

// What the last presentation printed asked for besides its PDF settings,
// kept by the presentation application for the next one it opens: the
// printer, PrintHiddenSlides, OutputType and the slides ("1-3,7"; empty:
// every one), a line each.
inline const QString kLastPrint = QStringLiteral("LastPrint");

inline void SetIsolateRows(Registry& registry, bool isolate)
{
    Registry::Key key = 0;
    if (registry.createKey(kKey, &key) != registry::kSuccess)
        return;
    registry.setStringValue(key, kIsolateRows, isolate ? QStringLiteral("1") : QStringLiteral("0"));
    registry.closeKey(key);
}

inline bool IsolateRows(const Registry& registry)
{
    return registry.readString(kKey, kIsolateRows) == QStringLiteral("1");
}
} // namespace officeoptions

} // namespace pradelux
