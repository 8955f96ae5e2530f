// The printers installed for this user: names, ports and the default printer.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace pradelux {

struct PrinterInfo
{
    QString name;
    QString port;
    bool system = false; // from a list for every user, not the user's own
};

class Printers
{
public:
    virtual ~Printers() = default;
    // In the order they were installed.
    virtual QList<PrinterInfo> installed() const = 0;
    virtual QString defaultPrinter() const = 0;
};

// The printer lists, kept as small JSON files: the user's own in the config
// folder, read together with the lists for every user in the system's config
// folders (the user's own wins on a name clash). The presentation application
// prints through them, the program checks them, and the "pradelux-printer"
// tool edits them.
class UserPrinters : public Printers
{
public:
    // file: the list that install, remove and setDefault change; systemFiles:
    // the lists for every user, read only, first one first.
    explicit UserPrinters(QString file = QString(), QStringList systemFiles = defaultSystemFiles());

    QList<PrinterInfo> installed() const override;
    QString defaultPrinter() const override;

    // Adds the printer or moves it to another port; the first printer becomes
    // the default. Returns false when the list cannot be written.
    bool install(const QString& name, const QString& port);
    // False when the list has no such printer (a printer of a system list
    // is not the user's to remove: isSystemPrinter tells).
    bool remove(const QString& name);
    bool setDefault(const QString& name);
    bool isSystemPrinter(const QString& name) const;

    static QString defaultFile();
    // Veltrande/printers.json in each of the system's config folders.
    static QStringList defaultSystemFiles();

private:
    struct State
    {
        QList<PrinterInfo> printers;
        QString defaultName;
    };
    static State load(const QString& file);
    State load() const { return load(m_file); }
    bool save(const State& state) const;
    QString m_file;
    QStringList m_systemFiles;
};

} // namespace pradelux
