// The error report's text and the trap that shows it and goes on.
#include "ErrorReport.h"
#include "Failure.h"
#include "FakeDialogs.h"

#include <gtest/gtest.h>
#include <stdexcept>

using namespace pradelux;

TEST(ErrorReport, TextIsJoinedExactly)
{
    EXPECT_EQ(ErrorReportText(QStringLiteral("File not found"), tags::kFormLoad, 132),
              QStringLiteral("File not found\r\nin Slidora2021/08/31.Form1.Form_Load at line 132\r\r"
                             "Please email screenshot of this message to ") +
                  kSupportAddress);
    // An empty description leaves the first line empty; negative numbers keep their sign.
    EXPECT_TRUE(ErrorReportText(QString(), tags::kDoPPT, -5)
                    .startsWith(QStringLiteral("\r\nin Slidora2021/08/31.PowerPoint.DoPPT at line -5\r\r")));
}

TEST(ErrorReport, TrapReportsEachFailingStatementAndGoesOn)
{
    test::FakeDialogs dialogs;
    dialogs.setApplicationTitle(QStringLiteral("Pradelux"));
    ErrorTrap trap(dialogs, tags::kSamples);
    QStringList ran;
    EXPECT_FALSE(trap(100, [] { throw Failure(53, QStringLiteral("File not found")); }));
    EXPECT_TRUE(trap(102, [&] { ran << "102"; }));
    EXPECT_FALSE(trap(104, [] { throw std::runtime_error("bad state"); }));
    EXPECT_FALSE(trap(106, [] { throw Failure(9, QString()); }));
    EXPECT_TRUE(trap(108, [&] { ran << "108"; }));

    EXPECT_EQ(ran, QStringList({"102", "108"}));
    EXPECT_EQ(trap.failures(), 3);
    ASSERT_EQ(dialogs.boxes.size(), 3);
    EXPECT_EQ(dialogs.boxes[0].text, ErrorReportText(QStringLiteral("File not found"), tags::kSamples, 100));
    EXPECT_EQ(dialogs.boxes[1].text, ErrorReportText(QStringLiteral("bad state"), tags::kSamples, 104));
    EXPECT_EQ(dialogs.boxes[2].text, ErrorReportText(QString(), tags::kSamples, 106));
    for (const auto& box : dialogs.boxes) {
        EXPECT_EQ(box.title, kErrorReportTitle);
        EXPECT_EQ(box.style, msgbox::kExclamation);
    }
}

TEST(ErrorReport, InterceptTakesOverChosenFailures)
{
    test::FakeDialogs dialogs;
    ErrorTrap trap(dialogs, tags::kAddFiles);
    QList<int> seen;
    trap.setIntercept([&](int number, const QString&) {
        seen << number;
        return number == 20476;
    });
    trap(100, [] { throw Failure(20476, QStringLiteral("buffer too small")); });
    trap(102, [] { throw Failure(53, QStringLiteral("File not found")); });
    EXPECT_EQ(seen, QList<int>({20476, 53}));
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].text, ErrorReportText(QStringLiteral("File not found"), tags::kAddFiles, 102));
}
