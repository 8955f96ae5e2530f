// The presentation application's clean-up of what killed servers left behind.
#include "PowerPointServer.h"
#include "TempEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <gtest/gtest.h>

using namespace pradelux;

TEST(PowerPointServer, WorkFoldersOfServersThatNoLongerRunAreRemoved)
{
    test::TempConfig temp;
    QProcess ended;
    ended.start(QStringLiteral("true"));
    ASSERT_TRUE(ended.waitForStarted());
    const qint64 endedPid = ended.processId();
    ASSERT_TRUE(ended.waitForFinished());
    const QString gone = QStringLiteral("pradelux-office-%1-AbC123").arg(endedPid);
    const QString mine = QStringLiteral("pradelux-office-%1-XyZ789").arg(QCoreApplication::applicationPid());
    const QString other = QStringLiteral("pradelux-office-notes");
    for (const QString& name : {gone, mine, other})
        ASSERT_TRUE(test::writeFile(temp.path(name + QStringLiteral("/job-1/deck.pptx"))));
    office::PowerPointServer::removeLeftovers(temp.path());
    EXPECT_EQ(QDir(temp.path()).entryList({QStringLiteral("pradelux-office-*")}, QDir::Dirs, QDir::Name),
              QStringList({mine, other}));
}
