// The set-up shared by the end-to-end tests: a config folder of the test's
// own with the PDF printer installed, the real presentation application on
// the test program's private bus, and no application left running after.
#pragma once

#include "AutomationProtocol.h"
#include "DBusAutomation.h"
#include "Printers.h"
#include "TempEnvironment.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>

namespace pradelux::test {

class ServerFixture : public ::testing::Test
{
protected:
    TempConfig config;
    // LibreOffice's profile is kept between runs: making it costs seconds.
    // One per group of tests that ctest runs at once (PRADELUX_TEST_GROUP):
    // two LibreOffices never share a profile.
    ScopedEnv cache{"XDG_CACHE_HOME", PRADELUX_TEST_CACHE "/xdg-cache" + qgetenv("PRADELUX_TEST_GROUP")};
    QDBusConnection bus = QDBusConnection::sessionBus();
    DBusAutomation automation{bus, QStringLiteral(PRADELUX_APPFOLDER)};
    UserPrinters printers;
    const QString name = protocol::busNameFor(QStringLiteral("PowerPoint.Application"));

    void SetUp() override
    {
        ASSERT_TRUE(bus.isConnected());
        ASSERT_TRUE(printers.install(QStringLiteral("Veltrande PDF Writer"), QStringLiteral("CPW2:")));
    }

    void TearDown() override
    {
        if (!waitUntilGone(10000)) {
            ADD_FAILURE() << "the presentation application was still running";
            const auto pid = bus.interface()->servicePid(name);
            if (pid.isValid())
                ::kill(static_cast<pid_t>(pid.value()), SIGKILL);
            waitUntilGone(5000);
        }
    }

    bool running() { return bus.interface()->isServiceRegistered(name).value(); }

    // The renderers started to answer on socket, ready or still loading.
    static QList<qint64> renderersOf(const QString& socket)
    {
        QList<qint64> found;
        for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QString proc = QStringLiteral("/proc/") + pid;
            QFile environ(proc + QStringLiteral("/environ"));
            if (QFileInfo(proc + QStringLiteral("/exe")).symLinkTarget().endsWith(QStringLiteral("/pradelux-render")) &&
                readFile(proc + QStringLiteral("/cmdline")).count(QChar(0)) == 1 && environ.open(QIODevice::ReadOnly) &&
                environ.readAll().split('\0').contains("PRADELUX_RENDER_SOCKET=" + QFile::encodeName(socket)))
                found << pid.toLongLong();
        }
        return found;
    }
    // True once no renderer for socket is left, within ms.
    static bool renderersGone(const QString& socket, int ms)
    {
        QElapsedTimer clock;
        clock.start();
        while (!renderersOf(socket).isEmpty() && clock.elapsed() < ms)
            QTest::qWait(50);
        return renderersOf(socket).isEmpty();
    }

    bool waitUntilGone(int ms)
    {
        QElapsedTimer clock;
        clock.start();
        while (running() && clock.elapsed() < ms)
            QTest::qWait(50);
        return !running();
    }
};

} // namespace pradelux::test
