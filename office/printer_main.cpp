// pradelux-printer: installs, removes and lists the printers, the user's own
// and (with --system) those for every user.
#include "PdfPrinter.h"
#include "Printers.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList args = app.arguments().mid(1);
    const bool system = args.removeAll(QStringLiteral("--system")) > 0;
    const QString command = args.value(0);
    const QString name = args.value(1, pradelux::pdfprinter::kName);
    const QString port = args.value(2, pradelux::pdfprinter::kPort);
    const QStringList systemFiles = pradelux::UserPrinters::defaultSystemFiles();
    if (system && systemFiles.isEmpty()) {
        err << "There is no system config folder to keep the printers for every user in." << Qt::endl;
        return 1;
    }
    const QString file = system ? systemFiles.constFirst() : pradelux::UserPrinters::defaultFile();
    // The list being changed, read with those of the system when it is the user's.
    pradelux::UserPrinters printers(file, system ? QStringList() : systemFiles);

    if (command == QLatin1String("install")) {
        if (!printers.install(name, port)) {
            err << "Could not write " << file << Qt::endl;
            return 1;
        }
        out << "Installed \"" << name << "\" on port " << port << (system ? " for every user" : "") << Qt::endl;
        return 0;
    }
    if (command == QLatin1String("remove")) {
        if (!system && printers.isSystemPrinter(name)) {
            err << "\"" << name << "\" is installed for every user; remove it with: sudo "
                << QCoreApplication::applicationFilePath() << " remove --system"
                << (args.size() > 1 ? " \"" + name + "\"" : QString()) << Qt::endl;
            return 1;
        }
        if (!printers.remove(name)) {
            err << "No printer \"" << name << "\" is installed" << (system ? " for every user" : "") << Qt::endl;
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
        // Every printer the user can print to: name, port, whether it is the
        // default, and where it comes from.
        pradelux::UserPrinters all;
        const QString def = all.defaultPrinter();
        for (const auto& p : all.installed())
            out << p.name << "\t" << p.port << "\t" << (p.name == def ? "default" : "") << "\t"
                << (p.system ? "system" : "user") << Qt::endl;
        return 0;
    }
    err << "usage: pradelux-printer [--system] install [NAME [PORT]] | remove [NAME] | default NAME | list\n"
           "NAME defaults to \""
        << pradelux::pdfprinter::kName << "\", PORT to " << pradelux::pdfprinter::kPort
        << "; --system changes the list for every user." << Qt::endl;
    return 2;
}
