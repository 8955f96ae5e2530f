// The printers installed for this user: names, ports and the default printer.
#pragma once

#include <QList>
#include <QString>

namespace pradelux {

struct PrinterInfo
{
    QString name;
    QString port;
};

class Printers
{
public:
    virtual ~Printers() = default;
    // In the order they were installed.
    virtual QList<PrinterInfo> installed() const = 0;
    virtual QString defaultPrinter() const = 0;
};

// The per-user printer list, kept as a small JSON file in the config folder.
// The presentation application prints through it, the program checks it, and
// the "pradelux-printer" tool edits it.
class UserPrinters : public Printers
{
public:
    explicit UserPrinters(QString file = QString());

    QList<PrinterInfo> installed() const override;
    QString defaultPrinter() const override;

    // Adds the printer or moves it to another port; the first printer becomes
    // the default. Returns false when the list cannot be written.
    bool install(const QString& name, const QString& port);
    bool remove(const QString& name);
    bool setDefault(const QString& name);

    static QString defaultFile();

private:
    struct State
    {
        QList<PrinterInfo> printers;
        QString defaultName;
    };
    State load() const;
    bool save(const State& state) const;
    QString m_file;
};

} // namespace pradelux
