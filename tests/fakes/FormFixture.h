// A real Form1 built from fakes, in a config folder of the test's own.
#pragma once

#include "FakeDialogs.h"
#include "FakeShell.h"
#include "Form1.h"
#include "SettingsStore.h"
#include "TempEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMouseEvent>
#include <QTableWidget>
#include <gtest/gtest.h>

namespace pradelux::test {

struct AppFiles
{
    bool skin = false;
    bool pointer = true;
};

class FormFixture : public ::testing::Test
{
protected:
    TempConfig config;
    FakeDialogs dialogs;
    FakeShell shell;
    SettingsStore settings;
    QString appFolder = config.path(QStringLiteral("app"));
    QString desktop = config.path(QStringLiteral("Desktop"));
    QString home = config.path(QStringLiteral("home"));
    double draw = 0.5;
    QList<int> exits;
    StartupSteps steps;
    Automation* automation = nullptr;
    ExportRun::ExportOne exportOne;
    RunLock* exportLock = nullptr;
    DesktopSignals* desktopSignals = nullptr;

    void lay(AppFiles files)
    {
        QDir().mkpath(appFolder + QStringLiteral("/x"));
        const QString built = QStringLiteral(PRADELUX_APPFOLDER);
        QFile::copy(built + QStringLiteral("/pradelux.png"), appFolder + QStringLiteral("/pradelux.png"));
        if (files.pointer)
            QFile::copy(built + QStringLiteral("/HAND-M.CUR"), appFolder + QStringLiteral("/HAND-M.CUR"));
        if (files.skin)
            QFile::copy(QStringLiteral(PRADELUX_SOURCE_DIR "/resources/skin/o.cjs"),
                        appFolder + QStringLiteral("/x/o.cjs"));
    }

    std::unique_ptr<Form1> load(AppFiles files = {})
    {
        lay(files);
        for (const QString& folder : {desktop, home}) {
            if (!folder.isEmpty())
                QDir().mkpath(folder);
        }
        Form1Services services{dialogs,
                               shell,
                               settings,
                               appFolder,
                               [this] { return draw; },
                               [this] { return desktop; },
                               [this](int code) { exits << code; },
                               automation,
                               [this](const QString& in, const QString& out) { return exportOne(in, out); }};
        services.homeFolder = home;
        services.exportLock = exportLock;
        services.desktopSignals = desktopSignals;
        auto form = std::make_unique<Form1>(services, steps);
        form->Form_Load();
        return form;
    }

    template <typename T = QWidget> static T* child(Form1& form, const char* name)
    {
        return form.findChild<T*>(QLatin1String(name));
    }

    static QStringList rows(Form1& form)
    {
        QStringList out;
        for (int i = 1; i <= form.presentations().Count(); ++i)
            out << form.presentations().Entry(i);
        return out;
    }

    static void moveOver(QWidget* w)
    {
        QMouseEvent move(QEvent::MouseMove, QPointF(3, 3), w->mapToGlobal(QPointF(3, 3)), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(w, &move);
    }
};

} // namespace pradelux::test
