// Filling and emptying the list through the real window: the add-files
// dialog, the folder scan, dropped files and folders, Delete, double-click,
// "Clear List", the output folder button, and the settings across a restart.
#include "ErrorReport.h"
#include "FormFixture.h"
#include "ListOperations.h"

#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QUrl>

using namespace pradelux;

namespace {

class ListGuiTest : public test::FormFixture
{
protected:
    QString tree = config.path(QStringLiteral("Vorträge 2026"));

    void touch(const QString& relative, QFileDevice::Permissions perms = {})
    {
        ASSERT_TRUE(test::writeFile(tree + QLatin1Char('/') + relative, perms));
    }

    void click(Form1& form, const char* button) { QTest::mouseClick(child<QPushButton>(form, button), Qt::LeftButton); }

    // A drop of URLs on the list; returns whether the drag was accepted.
    bool drop(Form1& form, const QList<QUrl>& urls, const QString& text = QString(),
              Qt::DropActions actions = Qt::CopyAction, Qt::DropAction* taken = nullptr)
    {
        QMimeData data;
        if (!urls.isEmpty())
            data.setUrls(urls);
        if (!text.isEmpty())
            data.setText(text);
        QWidget* viewport = child<QTableWidget>(form, "ListView1")->viewport();
        // A file manager proposes a move when it may.
        QDragEnterEvent enter(QPoint(5, 5), actions, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent dropEvent(QPointF(5, 5), actions, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &dropEvent);
        if (taken)
            *taken = dropEvent.dropAction();
        return dropEvent.isAccepted();
    }

    void makeTree()
    {
        touch("talk.ppt");
        touch("Zwei Wörter \"quoted\" 'x'.PPT");
        touch("~lock.ppt");
        touch(".hidden.ppt");                            // hidden + archive: skipped
        touch(".hidden-ro.ppt", QFileDevice::ReadOwner); // hidden + archive + read-only: taken
        touch("readonly.ppt", QFileDevice::ReadOwner);
        touch("notes.txt");
        touch("sub/deeper/bottom.ppt");
        touch("sub/middle.ppt");
        touch("日本/発表.ppt");
        QFile::link(tree, tree + "/sub/loop");
    }
};

TEST_F(ListGuiTest, AddFilesTakesOneOrManyAndNothingOnCancel)
{
    auto form = load();
    dialogs.fileAnswers = {{"/data/one//odd.pptx"},
                           {},
                           {"/data/Talks/b.ppt", "/data/Talks/a b.odp", "/data/Talks/c.pptx"},
                           {"/x.ppt", "/y.ppt"},
                           {"/data/one//odd.pptx"},
                           // picked from several folders (Recent, a search)
                           {"/data/Talks/a.ppt", "/data/Talk/b.ppt", "/srv/c.odp"},
                           {"/data/Talks/2019/a.ppt", "/data/Talks/b.ppt"}};
    for (int i = 0; i < 7; ++i)
        click(*form, "PushButton1");
    EXPECT_EQ(rows(*form),
              QStringList({"/data/one//odd.pptx", "/data/Talks/b.ppt", "/data/Talks/a b.odp", "/data/Talks/c.pptx",
                           "/x.ppt", "/y.ppt", "/data/one//odd.pptx", "/data/Talks/a.ppt", "/data/Talk/b.ppt",
                           "/srv/c.odp", "/data/Talks/2019/a.ppt", "/data/Talks/b.ppt"}));
    ASSERT_EQ(dialogs.fileRequests.size(), 7);
    EXPECT_EQ(dialogs.fileRequests[0].filter, QStringLiteral("PowerPoint Files (*.p*)|*.p*|All Files (*.*)|*.*|"));
    EXPECT_TRUE(dialogs.fileRequests[0].multiSelect);
    EXPECT_TRUE(dialogs.boxes.isEmpty());
    EXPECT_EQ(form->commonDialog().Flags, 2621953);
    EXPECT_EQ(form->commonDialog().DialogTitle,
              QStringLiteral("Add File(s) - Use Ctrl & Shift to select multiple files"));
}

TEST_F(ListGuiTest, TooManyFilesShowsItsMessageAndAddsNothing)
{
    auto form = load();
    QStringList many;
    for (int i = 0; i < 2000; ++i)
        many << QStringLiteral("/data/a rather long folder name/presentation number %1.pptx").arg(i);
    dialogs.fileAnswers = {many};
    click(*form, "PushButton1");
    EXPECT_EQ(form->presentations().Count(), 0);
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(
        dialogs.boxes[0].text,
        QStringLiteral("You've selected too many files to add.\r\rPlease try adding via the \"Add All\" button."));
    EXPECT_EQ(dialogs.boxes[0].style, 0);
    EXPECT_EQ(dialogs.boxes[0].title, QStringLiteral("Pradelux"));
}

TEST_F(ListGuiTest, FolderScanAddsMatchingFilesLevelByLevel)
{
    makeTree();
    auto form = load();
    settings.WriteSetting(settings::kLastFolderDot, QStringLiteral("/the output folder's own"));
    dialogs.inputAnswers = {"PPT"};
    dialogs.folderAnswers = {tree};
    // The pointer while the rows come in, inside the scan.
    QList<int> pointers;
    auto* model = child<QTableWidget>(*form, "ListView1")->model();
    QObject::connect(model, &QAbstractItemModel::rowsInserted, [&] { pointers << form->mousePointer(); });
    click(*form, "PushButton4");
    EXPECT_FALSE(pointers.isEmpty());
    EXPECT_EQ(pointers.count(pointer::kBusy), pointers.size());
    ASSERT_EQ(dialogs.inputRequests.size(), 1);
    EXPECT_EQ(dialogs.inputRequests[0].preset, QStringLiteral("ppt")); // nothing stored yet
    EXPECT_EQ(dialogs.inputRequests[0].prompt,
              QStringLiteral("Enter file extension to load:\r\r(* for all files, txt for all txt files, doc for all "
                             "doc files, etc.)"));
    ASSERT_EQ(dialogs.folderRequests.size(), 1);
    EXPECT_EQ(dialogs.folderRequests[0].preset, QString()); // LastFolder, not LastFolderDot
    EXPECT_EQ(rows(*form), QStringList({tree + "/.hidden-ro.ppt", tree + "/Zwei Wörter \"quoted\" 'x'.PPT",
                                        tree + "/readonly.ppt", tree + "/talk.ppt", tree + "/sub/middle.ppt",
                                        tree + "/日本/発表.ppt", tree + "/sub/deeper/bottom.ppt"}));
    EXPECT_TRUE(dialogs.boxes.isEmpty()) << dialogs.texts().join("\n").toStdString();
    EXPECT_EQ(form->mousePointer(), pointer::kDefault);
    EXPECT_EQ(settings.ReadSetting(settings::kExtension, QString()), QStringLiteral("PPT"));
    EXPECT_EQ(settings.ReadSetting(settings::kLastFolder, QString()), tree);

    // "*" takes every file. From "sub", the link back up leads to the top of
    // the tree, which is scanned once, without "sub" a second time.
    form->presentations().ClearEntries(*form);
    dialogs.inputAnswers = {"*", ".ppt"};
    dialogs.folderAnswers = {tree + "/sub", tree};
    click(*form, "PushButton4");
    EXPECT_EQ(dialogs.inputRequests[1].preset, QStringLiteral("PPT")); // the stored "Extension"
    EXPECT_EQ(dialogs.folderRequests[1].preset, tree);                 // the stored "LastFolder"
    const QString loop = tree + "/sub/loop/";
    EXPECT_EQ(rows(*form),
              QStringList({tree + "/sub/middle.ppt", tree + "/sub/deeper/bottom.ppt", loop + ".hidden-ro.ppt",
                           loop + "Zwei Wörter \"quoted\" 'x'.PPT", loop + "notes.txt", loop + "readonly.ppt",
                           loop + "talk.ppt", loop + "日本/発表.ppt"}));
    // ".ppt" is used as typed: the pattern "*..ppt" matches nothing here.
    click(*form, "PushButton4");
    EXPECT_EQ(form->presentations().Count(), 8);
}

TEST_F(ListGuiTest, CancelInEitherFolderScanPromptAddsNothing)
{
    makeTree();
    auto form = load();
    settings.WriteSetting(settings::kLastFolder, QStringLiteral("/kept"));
    dialogs.inputAnswers = {""};
    click(*form, "PushButton4");
    EXPECT_EQ(settings.ReadSetting(settings::kExtension, QStringLiteral("absent")), QStringLiteral("absent"));
    dialogs.inputAnswers = {"pptx"};
    dialogs.folderAnswers = {""};
    click(*form, "PushButton4");
    EXPECT_EQ(settings.ReadSetting(settings::kExtension, QString()), QStringLiteral("pptx"));
    EXPECT_EQ(settings.ReadSetting(settings::kLastFolder, QString()), QStringLiteral("/kept"));
    EXPECT_EQ(form->presentations().Count(), 0);
    EXPECT_TRUE(dialogs.boxes.isEmpty());
}

TEST_F(ListGuiTest, DroppedFilesStayAsTheyAreAndDroppedFoldersAreScannedForEveryType)
{
    makeTree();
    touch("empty folder/.keep-out", {});
    QFile::remove(tree + "/empty folder/.keep-out");
    touch("sub/handout.docx");
    touch("sub/~$handout.docx");
    touch("sub/.outline.odp");
    auto form = load();
    QFile::remove(tree + "/sub/loop");
    // Offered as a move or a copy, the drop is taken as a copy.
    Qt::DropAction taken = Qt::IgnoreAction;
    EXPECT_TRUE(drop(*form,
                     {QUrl::fromLocalFile(tree + "/sub"), QUrl::fromLocalFile(tree + "/~lock.ppt"),
                      QUrl::fromLocalFile(tree + "/.hidden.ppt"), QUrl::fromLocalFile(tree + "/empty folder"),
                      QUrl::fromLocalFile("/no/such/file.pptx")},
                     QString(), Qt::MoveAction | Qt::CopyAction, &taken));
    EXPECT_EQ(taken, Qt::CopyAction);
    EXPECT_EQ(rows(*form),
              QStringList({tree + "/sub/handout.docx", tree + "/sub/middle.ppt", tree + "/sub/deeper/bottom.ppt",
                           tree + "/~lock.ppt", tree + "/.hidden.ppt", "/no/such/file.pptx"}));
    // A source that allows only a move gets nothing.
    EXPECT_FALSE(drop(*form, {QUrl::fromLocalFile(tree + "/talk.ppt")}, QString(), Qt::MoveAction));
    EXPECT_TRUE(dialogs.boxes.isEmpty());
    // Text, or a mix with a web address, is refused while dragging.
    EXPECT_FALSE(drop(*form, {}, QStringLiteral("/some/path.ppt")));
    EXPECT_FALSE(drop(*form, {QUrl::fromLocalFile(tree + "/talk.ppt"), QUrl("https://example.org/x.ppt")}));
    EXPECT_EQ(form->presentations().Count(), 6);
}

TEST_F(ListGuiTest, PathsGivenAtStartAreAddedAsADropAddsThemAndTheRestIsNamedOnce)
{
    makeTree();
    QFile::remove(tree + "/sub/loop");
    // A folder given at start-up brings its presentations, not every file.
    ASSERT_TRUE(test::writeFile(tree + "/sub/notes.txt"));
    const QString file = tree + "/talk.ppt";
    const QStringList subRows = {tree + "/sub/middle.ppt", tree + "/sub/deeper/bottom.ppt"};
    struct Case
    {
        QStringList arguments;
        QStringList rows;
        QStringList neither; // named in the one message
    };
    const QList<Case> cases = {
        {{}, {}, {}},
        {{file}, {file}, {}},
        {{tree + "/sub"}, subRows, {}},
        {{tree + "/sub", file}, subRows + QStringList{file}, {}},
        {{file, tree + "/gone.pptx", "--odd", tree + "/sub"},
         QStringList{file} + subRows,
         {tree + "/gone.pptx", "--odd"}},
    };
    for (const Case& c : cases) {
        dialogs.boxes.clear();
        auto form = load();
        form->AddCommandLinePaths(c.arguments);
        EXPECT_EQ(rows(*form), c.rows) << c.arguments.join(' ').toStdString();
        if (c.neither.isEmpty()) {
            EXPECT_TRUE(dialogs.boxes.isEmpty()) << dialogs.texts().join("\n").toStdString();
        } else {
            EXPECT_EQ(dialogs.texts(), QStringList({texts::kNotAdded + "\r\n" + c.neither.join("\r\n")}));
        }
    }
}

TEST_F(ListGuiTest, DeleteDoubleClickAndClearAreRefusedUnderTheBusyPointer)
{
    auto form = load();
    form->show();
    for (const char* p : {"/a.ppt", "/b.ppt", "/c.ppt", "/d.ppt"})
        form->presentations().AppendEntry(QString::fromUtf8(p));
    auto* list = child<QTableWidget>(*form, "ListView1");
    auto select = [&](int row) { list->selectRow(row); };

    form->setMousePointer(pointer::kBusy);
    select(1);
    QTest::keyClick(list, Qt::Key_Delete);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, QPoint(5, list->viewport()->height() - 3));
    click(*form, "PushButton5");
    EXPECT_EQ(form->presentations().Count(), 4);

    form->setMousePointer(pointer::kDefault);
    QTest::keyClick(list, Qt::Key_Delete, Qt::ShiftModifier);
    EXPECT_EQ(rows(*form), QStringList({"/a.ppt", "/c.ppt", "/d.ppt"}));
    QTest::keyClick(list, Qt::Key_Backspace);
    EXPECT_EQ(form->presentations().Count(), 3);
    select(2);
    // A double-click on the empty area below the rows removes the selected
    // row: its first click must not have cleared the selection.
    const QPoint below(5, list->viewport()->height() - 3);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, below);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, below);
    EXPECT_EQ(rows(*form), QStringList({"/a.ppt", "/c.ppt"}));
    click(*form, "PushButton5");
    EXPECT_EQ(form->presentations().Count(), 0);
    QTest::keyClick(list, Qt::Key_Delete); // an empty list: nothing happens
    click(*form, "PushButton5");
    EXPECT_TRUE(dialogs.boxes.isEmpty());
}

TEST_F(ListGuiTest, ColumnWiderThanTheListScrollsSidewaysToTheEndOfALongPath)
{
    auto form = load();
    form->show();
    form->presentations().AppendEntry(QStringLiteral("/data/") + QString(300, QLatin1Char('x')) +
                                      QStringLiteral("/the end.pptx"));
    auto* list = child<QTableWidget>(*form, "ListView1");
    list->setColumnWidth(0, list->viewport()->width() * 3);
    QApplication::processEvents();
    EXPECT_GE(list->horizontalScrollBar()->maximum(), list->viewport()->width() * 2 - 10);
}

TEST_F(ListGuiTest, EntryPastTheLastRowIsAReportedFailure)
{
    auto form = load();
    form->presentations().AppendEntry(QStringLiteral("/a.ppt"));
    EXPECT_THROW(form->presentations().Entry(2), Failure);
    EXPECT_THROW(form->presentations().Entry(0), Failure);
}

TEST_F(ListGuiTest, OutputFolderButtonAppendsTheSeparatorExceptForTheRoot)
{
    auto form = load();
    auto* text = child<QLineEdit>(*form, "Text1");
    settings.WriteSetting(settings::kLastFolder, QStringLiteral("/the scan's own"));
    dialogs.folderAnswers = {"/srv/Reports", "/", ""};
    click(*form, "PushButton7");
    click(*form, "PushButton7");
    ASSERT_EQ(dialogs.folderRequests.size(), 2);
    EXPECT_EQ(dialogs.folderRequests[0].preset, QString()); // LastFolderDot, not LastFolder
    EXPECT_EQ(dialogs.folderRequests[1].preset, QStringLiteral("/srv/Reports"));
    dialogs.folderAnswers = {"/srv/Reports", "/", ""};
    click(*form, "PushButton7");
    EXPECT_EQ(text->text(), QStringLiteral("/srv/Reports/"));
    EXPECT_EQ(settings.ReadSetting(settings::kLastFolderDot, QString()), QStringLiteral("/srv/Reports"));
    EXPECT_EQ(settings.ReadSetting(settings::kLocation, QString()), QStringLiteral("/srv/Reports/"));
    click(*form, "PushButton7");
    EXPECT_EQ(text->text(), QStringLiteral("/"));
    EXPECT_EQ(settings.ReadSetting(settings::kLastFolderDot, QString()), QStringLiteral("/"));
    click(*form, "PushButton7"); // cancelled
    EXPECT_EQ(text->text(), QStringLiteral("/"));
    EXPECT_EQ(settings.ReadSetting(settings::kLastFolderDot, QString()), QStringLiteral("/"));

    // Typing stores every change, the empty text included.
    text->clear();
    QTest::keyClicks(text, QStringLiteral("/out"));
    EXPECT_EQ(settings.ReadSetting(settings::kLocation, QString()), QStringLiteral("/out"));
}

TEST_F(ListGuiTest, SettingsSurviveARestartOfTheWindow)
{
    makeTree();
    {
        auto form = load();
        dialogs.inputAnswers = {"odp"};
        dialogs.folderAnswers = {tree, "/srv/out"};
        click(*form, "PushButton4");
        click(*form, "PushButton7");
        child<QLineEdit>(*form, "Text1")->setText(QStringLiteral("/typed/as is"));
    }
    SettingsStore reread;
    auto form = load();
    EXPECT_EQ(child<QLineEdit>(*form, "Text1")->text(), QStringLiteral("/typed/as is"));
    EXPECT_EQ(form->presentations().Count(), 0);
    EXPECT_EQ(reread.ReadSetting(settings::kExtension, QString()), QStringLiteral("odp"));
    EXPECT_EQ(reread.ReadSetting(settings::kLastFolder, QString()), tree);
    EXPECT_EQ(reread.ReadSetting(settings::kLastFolderDot, QString()), QStringLiteral("/srv/out"));
}

} // namespace
