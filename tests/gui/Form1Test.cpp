// The real window, offscreen: start-up, skin, reports, help, pointers, closing.
#include "ErrorReport.h"
#include "FormFixture.h"
#include "SettingsStore.h"
#include "SkinFramework.h"
#include "Startup.h"
#include "TempEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

using namespace pradelux;

namespace {

using Form1Test = test::FormFixture;

TEST_F(Form1Test, FirstRunShowsTheDesktopFolderAndStoresIt)
{
    auto form = load();
    EXPECT_TRUE(dialogs.boxes.isEmpty()) << dialogs.texts().join("\n").toStdString();
    auto* text = child<QLineEdit>(*form, "Text1");
    EXPECT_EQ(text->text(), desktop + QStringLiteral("/"));
    EXPECT_EQ(settings.ReadSetting(settings::kLocation, QStringLiteral("absent")), desktop + QStringLiteral("/"));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Pradelux"));
    EXPECT_FALSE(form->windowIcon().isNull());
    EXPECT_EQ(dialogs.applicationTitle(), QStringLiteral("Pradelux"));
    EXPECT_TRUE(form->hasCustomPointerPicture());
    auto* list = child<QTableWidget>(*form, "ListView1");
    ASSERT_EQ(list->columnCount(), 1);
    EXPECT_EQ(list->horizontalHeaderItem(0)->text(), QStringLiteral("PowerPoint File(s)"));
    EXPECT_EQ(list->columnWidth(0), form->twipsX(7000));
}

TEST_F(Form1Test, StoredLocationIsTakenAsItIsEvenWhenEmpty)
{
    for (const QString& stored : {QStringLiteral("/srv/pdf out"), QString()}) {
        settings.WriteSetting(settings::kLocation, stored);
        auto form = load();
        EXPECT_EQ(child<QLineEdit>(*form, "Text1")->text(), stored);
        EXPECT_EQ(settings.ReadSetting(settings::kLocation, QStringLiteral("absent")), stored);
    }
}

TEST_F(Form1Test, ControlsStandWhereTheWindowPlacesThem)
{
    auto form = load();
    struct Place
    {
        const char* name;
        int l, t, w, h;
    };
    for (const Place& p : {Place{"ListView1", 120, 630, 7800, 2535}, Place{"Frame2", 120, 4200, 7800, 825},
                           Place{"Text1", 225, 300, 6660, 345}, Place{"PushButton7", 6960, 300, 600, 345},
                           Place{"PushButton3", 120, 120, 7800, 405}, Place{"ProgressBar1", 120, 5670, 7800, 405},
                           Place{"PushButton1", 120, 3250, 3840, 405}, Place{"PushButton4", 4080, 3250, 3840, 405},
                           Place{"PushButton2", 120, 5150, 7800, 405}, Place{"PushButton5", 120, 3760, 3840, 405},
                           Place{"PushButton6", 4080, 3760, 3840, 405}}) {
        auto* w = child(*form, p.name);
        ASSERT_NE(w, nullptr) << p.name;
        EXPECT_EQ(w->geometry(), QRect(form->twipsX(p.l), form->twipsY(p.t), form->twipsX(p.w), form->twipsY(p.h)))
            << p.name;
    }
    EXPECT_EQ(form->size(), QSize(form->twipsX(8040), form->twipsY(6180)));

    auto* start = child<QPushButton>(*form, "PushButton2");
    EXPECT_EQ(start->text(), QStringLiteral("Start Exporting To PDF"));
    EXPECT_DOUBLE_EQ(start->font().pointSizeF(), 11.25);
    EXPECT_TRUE(start->font().bold());
    EXPECT_DOUBLE_EQ(form->font().pointSizeF(), 9);
    EXPECT_TRUE(form->font().bold());
    EXPECT_EQ(child<QGroupBox>(*form, "Frame2")->title(), QStringLiteral("Save Results To This Folder"));
    auto* bar = child<QProgressBar>(*form, "ProgressBar1");
    EXPECT_EQ(bar->text(), QStringLiteral("Progress Bar"));
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_TRUE(
        child<QTableWidget>(*form, "ListView1")->toolTip().startsWith(QStringLiteral("Drag and drop files here.")));
}

TEST_F(Form1Test, SkinFileSwitchesTheFaceColourAndTheSkin)
{
    // The window's own face colour, whatever the desktop's theme.
    const QColor face = Form1::ownPalette().color(QPalette::Button);
    auto plain = load({.skin = false});
    EXPECT_EQ(plain->palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_EQ(child(*plain, "Frame2")->palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_TRUE(plain->styleSheet().isEmpty());
    EXPECT_FALSE(plain->skin().loaded());

    auto skinned = load({.skin = true});
    EXPECT_EQ(skinned->palette().color(QPalette::Window), face);
    EXPECT_EQ(child(*skinned, "Frame2")->palette().color(QPalette::Window), face);
    EXPECT_TRUE(skinned->skin().loaded());
    EXPECT_EQ(skinned->skin().applyOptions() & 1, 1);
    EXPECT_TRUE(skinned->styleSheet().contains(QStringLiteral("QPushButton")));
    EXPECT_TRUE(dialogs.boxes.isEmpty());
}

TEST_F(Form1Test, MissingPointerPictureIsNoFailure)
{
    auto form = load({.pointer = false});
    EXPECT_FALSE(form->hasCustomPointerPicture());
    EXPECT_TRUE(dialogs.boxes.isEmpty());
    form->setMousePointer(pointer::kCustom);
    EXPECT_EQ(form->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(Form1Test, FailingStepsAreReportedAndTheSequenceGoesOn)
{
    draw = 0.06; // the draw of seven: visit the web site
    shell.fail = true;
    desktop.clear();
    home.clear();
    settings.WriteSetting(settings::kLocation, QStringLiteral("/kept/"));
    int recordings = 0;
    steps.recordSampleFiles = [&] { ++recordings; };
    auto form = load();
    EXPECT_EQ(recordings, 2); // the failed visit does not skip the record's test in the same step
    ASSERT_EQ(dialogs.boxes.size(), 2);
    EXPECT_EQ(dialogs.boxes[0].text,
              QStringLiteral("File not found: no URL opener\r\nin Slidora2021/08/31.Form1.Form_Load at line 108\r\r"
                             "Please email screenshot of this message to ") +
                  kSupportAddress);
    EXPECT_EQ(dialogs.boxes[0].title, QStringLiteral("Application Error"));
    EXPECT_EQ(dialogs.boxes[0].style, 48);
    EXPECT_TRUE(dialogs.boxes[1].text.contains(QStringLiteral("Form_Load at line 132\r\r")));
    // The steps after each failure ran; the failed one left its box empty and
    // the stored location alone.
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Pradelux"));
    EXPECT_EQ(child<QTableWidget>(*form, "ListView1")->columnCount(), 1);
    EXPECT_EQ(child<QLineEdit>(*form, "Text1")->text(), QString());
    EXPECT_EQ(settings.ReadSetting(settings::kLocation, QString()), QStringLiteral("/kept/"));
}

TEST_F(Form1Test, StartUpStepsRunInTheirPlaces)
{
    QStringList order;
    int recordings = 0;
    steps.recordSampleFiles = [&] {
        order << QStringLiteral("record");
        // The first recording finds nothing to record; the second does.
        if (++recordings == 2)
            settings.WriteSetting(settings::kSnapshot, QStringLiteral("recorded"));
    };
    steps.checkPowerPointInstalled = [&] {
        order << QStringLiteral("application:") + settings.ReadSetting(settings::kLocation, QString());
        return true;
    };
    steps.checkPdfPrinterInstalled = [&] { order << QStringLiteral("printer"); };
    load();
    EXPECT_EQ(order, QStringList({"record", "record", "application:" + desktop + "/", "printer"}));

    order.clear();
    load(); // a stored record is not made again
    EXPECT_EQ(order, QStringList({"application:" + desktop + "/", "printer"}));
}

TEST_F(Form1Test, HelpShowsItsBoxEachTime)
{
    auto form = load();
    auto* help = child<QPushButton>(*form, "PushButton3");
    QTest::mouseClick(help, Qt::LeftButton);
    QTest::mouseClick(help, Qt::LeftButton);
    ASSERT_EQ(dialogs.boxes.size(), 2);
    for (const auto& box : dialogs.boxes) {
        EXPECT_EQ(box.text, QStringLiteral("This program works with PowerPoint Presentations like .ppt and .pptx but "
                                           "not PowerPoint Shows like .pps"));
        EXPECT_EQ(box.title, QStringLiteral("Pradelux"));
        EXPECT_EQ(box.style, 0);
    }
}

TEST_F(Form1Test, HoverPointerFollowsTheAreasAndLeavesTheBusyPointer)
{
    auto form = load();
    form->show();
    moveOver(child(*form, "PushButton1"));
    EXPECT_EQ(form->mousePointer(), pointer::kCustom);
    moveOver(child(*form, "Text1")); // no handling there
    EXPECT_EQ(form->mousePointer(), pointer::kCustom);
    moveOver(child(*form, "ProgressBar1"));
    EXPECT_EQ(form->mousePointer(), pointer::kCustom);
    moveOver(form.get());
    EXPECT_EQ(form->mousePointer(), pointer::kDefault);
    EXPECT_NE(form->cursor().shape(), Qt::WaitCursor);
    moveOver(child(*form, "PushButton7"));
    EXPECT_EQ(form->mousePointer(), pointer::kCustom);
    moveOver(child(*form, "Frame2"));
    EXPECT_EQ(form->mousePointer(), pointer::kDefault);
    moveOver(child(*form, "PushButton6"));
    moveOver(child<QTableWidget>(*form, "ListView1")->viewport());
    EXPECT_EQ(form->mousePointer(), pointer::kDefault);

    form->setMousePointer(pointer::kBusy);
    for (const char* name : {"PushButton2", "Frame2", "Form1", "PushButton3"}) {
        moveOver(name == QLatin1String("Form1") ? form.get() : child(*form, name));
        EXPECT_EQ(form->mousePointer(), pointer::kBusy) << name;
    }
    EXPECT_EQ(form->cursor().shape(), Qt::WaitCursor);
    form->setMousePointer(pointer::kDefault);
    moveOver(child(*form, "PushButton2"));
    EXPECT_EQ(form->mousePointer(), pointer::kCustom);
}

TEST_F(Form1Test, ClosingTheWindowEndsTheProgram)
{
    auto form = load();
    form->show();
    form->close();
    EXPECT_EQ(exits, QList<int>({0}));
}

} // namespace
