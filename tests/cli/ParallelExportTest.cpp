// How the jobs of --jobs share the rows out.
#include "ClaimPlan.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace pradelux;

// A job takes whole units: a folder's rows together while the folders are
// small enough to share out (so that its LibreOffice, which serves one
// folder, is started once a folder), the largest first; a folder larger than
// a job's share, and the smallest folders, are cut into their rows, taken
// last side by side; rows that write one PDF are one unit, taken in their
// listed order wherever the sort put their folders.
TEST(ParallelExport, JobsTakeAFoldersRowsTogetherAndRowsOfOnePdfInTheirListedOrder)
{
    const struct
    {
        const char* how;
        bool keepFolders;
        QStringList listed; // "folder/name" or "folder/name:KiB"
        QStringList order;
        QList<QStringList> units; // rows that go to one job; every other row apart
    } cases[] = {
        {"four folders",
         false,
         {"c/c1", "a/a1", "d/d1", "b/b1", "a/a2", "c/c2", "b/b2", "a/a3", "b/b3", "a/a4"},
         {"a/a1", "a/a2", "a/a3", "a/a4", "b/b1", "b/b2", "b/b3", "c/c1", "c/c2", "d/d1"},
         {{"a/a1", "a/a2", "a/a3", "a/a4"}, {"b/b1", "b/b2", "b/b3"}, {"c/c1", "c/c2"}, {"d/d1"}}},
        // a and b share x.pdf: too large a unit together, both are cut; b/x,
        // listed first, takes the first place of the two.
        {"one name in two folders",
         false,
         {"b/x", "b/w", "a/x", "a/y", "a/z", "c/v"},
         {"b/x", "a/y", "a/z", "a/x", "b/w", "c/v"},
         {{"b/x", "a/x"}, {"a/y"}, {"a/z"}, {"b/w"}, {"c/v"}}},
        {"one folder, the largest rows first",
         false,
         {"a/s1:1", "a/s2:40", "a/s3:8"},
         {"a/s2:40", "a/s3:8", "a/s1:1"},
         {{"a/s1:1"}, {"a/s2:40"}, {"a/s3:8"}}},
        {"one set of names in every folder, --keep-folders",
         true,
         {"a/x", "a/y", "b/x", "b/y", "c/x", "c/y", "d/x", "d/y"},
         {"a/x", "a/y", "b/x", "b/y", "c/x", "c/y", "d/x", "d/y"},
         {{"a/x", "a/y"}, {"b/x", "b/y"}, {"c/x", "c/y"}, {"d/x"}, {"d/y"}}},
    };
    for (const auto& c : cases) {
        QTemporaryDir tree;
        QStringList rows;
        QHash<QString, QString> subfolders;
        QHash<QString, QString> named; // full path: its name in the table
        for (const QString& row : c.listed) {
            const QString path = tree.filePath(row.section(QLatin1Char(':'), 0, 0) + QStringLiteral(".pptx"));
            QDir().mkpath(QFileInfo(path).path());
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(row.section(QLatin1Char(':'), 1).toInt() * 1024, 'x'));
            rows << path;
            named.insert(path, row);
            if (c.keepFolders)
                subfolders.insert(path, row.left(1));
        }
        const ClaimPlan plan = PlanClaims(rows, subfolders, 2);
        QStringList order;
        for (const QString& path : plan.order)
            order << named.value(path);
        EXPECT_EQ(order.join(QLatin1Char(' ')).toStdString(), c.order.join(QLatin1Char(' ')).toStdString()) << c.how;
        QHash<QString, QString> unitOf;
        for (auto it = named.cbegin(); it != named.cend(); ++it)
            unitOf.insert(it.value(), plan.units.value(it.key()));
        QSet<QString> distinct;
        for (const QStringList& unit : c.units) {
            for (const QString& row : unit)
                EXPECT_EQ(unitOf.value(row).toStdString(), unitOf.value(unit.first()).toStdString())
                    << c.how << ' ' << row.toStdString();
            distinct.insert(unitOf.value(unit.first()));
        }
        EXPECT_EQ(distinct.size(), c.units.size()) << c.how;
    }
}
