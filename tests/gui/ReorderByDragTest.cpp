// Dragging rows with QTest mouse events on the real list.
#include "FormFixture.h"

#include <QTest>

using namespace pradelux;

namespace {

class ReorderByDragTest : public test::FormFixture
{
protected:
    std::unique_ptr<Form1> form;
    QTableWidget* list = nullptr;
    QPoint screen{100, 330}; // between the two scroll heights

    void fill(const QStringList& texts)
    {
        if (!form) {
            form = load();
            form->show();
            list = child<QTableWidget>(*form, "ListView1");
        }
        for (const QString& t : texts)
            form->presentations().AppendEntry(t);
    }
    QPoint at(int row) const { return list->visualItemRect(list->item(row - 1, 0)).center(); }
    QWidget* viewport() const { return list->viewport(); }
    void press(int row) { QTest::mousePress(viewport(), Qt::LeftButton, {}, at(row)); }
    void moveTo(int row) { moveTo(at(row)); }
    void moveTo(const QPoint& p)
    {
        QMouseEvent move(QEvent::MouseMove, p, viewport()->mapToGlobal(p), Qt::NoButton,
                         form->DragActive ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(viewport(), &move);
    }
    void release(int row) { QTest::mouseRelease(viewport(), Qt::LeftButton, {}, at(row)); }
    void drag(int from, std::initializer_list<int> across)
    {
        press(from);
        for (int row : across)
            moveTo(row);
        release(*(across.end() - 1));
    }
    bool visible(int row) const { return viewport()->rect().intersects(list->visualItemRect(list->item(row - 1, 0))); }

    void SetUp() override
    {
        lay({});
        QDir().mkpath(appFolder);
        QFile::copy(QStringLiteral(PRADELUX_APPFOLDER "/drag.ico"), appFolder + QStringLiteral("/drag.ico"));
    }
    void buildForm()
    {
        Form1Services services{dialogs,
                               shell,
                               settings,
                               appFolder,
                               [] { return 0.5; },
                               [this] { return desktop; },
                               [](int) {},
                               nullptr,
                               {},
                               [this] { return screen; }};
        form = std::make_unique<Form1>(services, steps);
        form->Form_Load();
        form->show();
        list = child<QTableWidget>(*form, "ListView1");
    }
};

TEST_F(ReorderByDragTest, MovingRowTwoToFiveShiftsTheRowsBetweenUp)
{
    buildForm();
    fill({"r1", "r2", "r3", "r4", "r5", "r6"});
    drag(2, {3, 4, 5});
    EXPECT_EQ(rows(*form), QStringList({"r1", "r3", "r4", "r5", "r2", "r6"}));
    EXPECT_EQ(list->selectedItems().constFirst()->text(), QStringLiteral("r2"));
    EXPECT_EQ(form->listMousePointer(), 1);
    EXPECT_FALSE(form->DragActive);
}

TEST_F(ReorderByDragTest, FastMoveSwapsTwoRowsAndEqualTextsNeverSwap)
{
    buildForm();
    fill({"a", "b", "same", "d", "same"});
    drag(1, {4});
    EXPECT_EQ(rows(*form), QStringList({"d", "b", "same", "a", "same"}));
    drag(3, {5}); // the dragged text equals the text under the pointer
    EXPECT_EQ(rows(*form), QStringList({"d", "b", "same", "a", "same"}));
    // Over the empty area below the rows nothing happens either.
    press(2);
    moveTo(QPoint(5, viewport()->height() - 2));
    release(2);
    EXPECT_EQ(rows(*form), QStringList({"d", "b", "same", "a", "same"}));
}

TEST_F(ReorderByDragTest, NothingMovesBeforeARowWasClickedOrAfterItWasRemoved)
{
    buildForm();
    fill({"a", "b", "c"});
    form->ListView1_MouseDown(); // a press that clicked no row
    moveTo(2);
    form->ListView1_MouseUp();
    EXPECT_EQ(rows(*form), QStringList({"a", "b", "c"}));
    EXPECT_EQ(form->draggedRow(), 0);
    EXPECT_EQ(form->listMousePointer(), 1); // the arrow after any release

    press(3);
    release(3);
    EXPECT_EQ(form->draggedRow(), 3);
    QTest::keyClick(list, Qt::Key_Delete); // the dragged row goes
    EXPECT_EQ(form->draggedRow(), 0);
    form->ListView1_MouseDown();
    moveTo(1);
    form->ListView1_MouseUp();
    EXPECT_EQ(rows(*form), QStringList({"a", "b"}));
}

TEST_F(ReorderByDragTest, ScrollsByTheScreenHeightOfThePointerAfterAnExchange)
{
    buildForm();
    QStringList many;
    for (int i = 1; i <= 60; ++i)
        many << QStringLiteral("row %1").arg(i, 2, 10, QLatin1Char('0'));
    fill(many);
    const int shown = list->rowAt(viewport()->height() - 1) + 1; // the last row in view
    ASSERT_GT(shown, 3);
    ASSERT_LT(shown, 60);

    // Low on the screen, an exchange with the last visible row shows the next one.
    screen.setY(365);
    drag(shown - 1, {shown});
    EXPECT_TRUE(visible(shown + 1));

    // High on the screen, an exchange makes the row above visible.
    list->scrollToItem(list->item(29, 0), QAbstractItemView::PositionAtTop);
    const int top = list->rowAt(0) + 1;
    ASSERT_FALSE(visible(top - 1));
    screen.setY(304);
    drag(top + 1, {top});
    EXPECT_TRUE(visible(top - 1));

    // In between, or with no exchange, nothing scrolls.
    list->scrollToBottom();
    const int before = list->rowAt(0);
    const int inView = before + 3;
    screen.setY(330);
    drag(inView + 1, {inView});
    screen.setY(100);
    moveTo(inView); // no button: no exchange, no scroll
    EXPECT_EQ(list->rowAt(0), before);
}

TEST_F(ReorderByDragTest, MovesOverTheListResetTheWindowPointerButNotTheBusyOne)
{
    buildForm();
    fill({"a", "b"});
    form->setMousePointer(pointer::kCustom);
    moveTo(1);
    EXPECT_EQ(form->mousePointer(), pointer::kDefault);
    form->setMousePointer(pointer::kBusy);
    moveTo(2);
    EXPECT_EQ(form->mousePointer(), pointer::kBusy);
    EXPECT_EQ(rows(*form), QStringList({"a", "b"}));
}

TEST_F(ReorderByDragTest, MissingDragPictureIsNoFailureAndFilesStillDrop)
{
    QFile::remove(appFolder + QStringLiteral("/drag.ico"));
    buildForm();
    fill({"a", "b"});
    drag(1, {2});
    EXPECT_EQ(rows(*form), QStringList({"b", "a"}));
    EXPECT_TRUE(dialogs.boxes.isEmpty());
    EXPECT_EQ(list->dragDropMode(), QAbstractItemView::NoDragDrop);
    EXPECT_TRUE(viewport()->acceptDrops());
}

} // namespace
