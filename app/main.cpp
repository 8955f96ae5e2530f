// Pradelux: start the application and show the window.
#include "Dialogs.h"
#include "Files.h"
#include "Form1.h"
#include "SettingsStore.h"
#include "Shell.h"
#include "Startup.h"

#include <QApplication>
#include <cstdlib>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Veltrande"));
    QCoreApplication::setApplicationName(QStringLiteral("Pradelux"));

    pradelux::QtDialogs dialogs;
    pradelux::DesktopShell shell;
    pradelux::SettingsStore settings;
    pradelux::Form1Services services{dialogs,
                                     shell,
                                     settings,
                                     pradelux::AppFolder(),
                                     pradelux::TimeSeededRandom,
                                     pradelux::XdgDesktopFolder,
                                     // Every setting is already stored, so the
                                     // program can end on the spot.
                                     [](int code) { std::_Exit(code); }};
    pradelux::Form1 window(services);
    dialogs.setParent(&window);
    window.Form_Load();
    window.show();
    return app.exec();
}
