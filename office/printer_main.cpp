// pradelux-printer: installs, removes and lists the user's printers.
#include "PdfPrinter.h"
#include "Printers.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList args = app.arguments().mid(1);
    const QString command = args.value(0);
    const QString name = args.value(1, pradelux::pdfprinter::kName);
    const QString port = args.value(2, pradelux::pdfprinter::kPort);
    pradelux::UserPrinters printers;

    if (command == QLatin1String("install")) {
        if (!printers.install(name, port)) {
            err << "Could not write " << pradelux::UserPrinters::defaultFile() << Qt::endl;
            return 1;
        }
        out << "Installed \"" << name << "\" on port " << port << Qt::endl;
        return 0;
    }
    if (command == QLatin1String("remove")) {
        if (!printers.remove(name)) {
            err << "No printer \"" << name << "\" is installed" << Qt::endl;
            return 1;
        }
        out << "Removed \"" << name << "\"" << Qt::endl;
        return 0;
    }
    if (command == QLatin1String("default") && args.size() >= 2) {
        if (!printers.setDefault(name)) {
            err << "No printer \"" << name << "\" is installed" << Qt::endl;
            return 1;
        }
        return 0;
    }
    if (command == QLatin1String("list")) {
        const QString def = printers.defaultPrinter();
        for (const auto& p : printers.installed())
            out << p.name << "\t" << p.port << (p.name == def ? "\t(default)" : "") << Qt::endl;
        return 0;
    }
    err << "usage: pradelux-printer install [NAME [PORT]] | remove [NAME] | default NAME | list\n"
           "NAME defaults to \""
        << pradelux::pdfprinter::kName << "\", PORT to " << pradelux::pdfprinter::kPort << Qt::endl;
    return 2;
}
