// Form1: the program's one window, its controls and its start-up.
#include "Form1.h"

#include "DesktopSignals.h"
#include "Dialogs.h"
#include "ErrorReport.h"
#include "EventLoop.h"
#include "Failure.h"
#include "Files.h"
#include "Pointers.h"
#include "PresentationFile.h"
#include "RunLock.h"
#include "SettingsStore.h"
#include "SkinFramework.h"
#include "Startup.h"
#include "Texts.h"
#include "WindowChoices.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>

namespace pradelux {

namespace {
QFont arialBold(double points)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

void paint(QWidget* w, QPalette::ColorRole role, const QColor& colour)
{
    QPalette pal = w->palette();
    pal.setColor(role, colour);
    w->setPalette(pal);
}
} // namespace

Form1::Form1(Form1Services services, StartupSteps steps, QWidget* parent)
    : QWidget(parent), m_services(std::move(services)), m_steps(std::move(steps)),
      m_commonDialog(m_services.dialogs), m_listContext{m_list, *this, m_services.dialogs, m_services.settings},
      m_exportRun(*this, m_services.dialogs, m_services.automation, m_services.exportOne),
      m_sampleContext{m_list,           m_services.settings,  m_services.dialogs,
                      m_services.shell, m_services.appFolder, [this] { yield(); }}
{
    setObjectName(QStringLiteral("Form1"));
    m_exportRun.setLock(m_services.exportLock, QStringLiteral("the Pradelux window"), [this](const QString& holder) {
        const bool unusable = m_services.exportLock && m_services.exportLock->unusable();
        m_services.dialogs.msgBox((unusable ? texts::kLockUnusable : texts::kAnotherRun).arg(holder));
        return false;
    });
    createControls();
}

Form1::~Form1() = default;

int Form1::twipsX(int twips) const
{
    return qRound(twips * logicalDpiX() / 1440.0);
}
int Form1::twipsY(int twips) const
{
    return qRound(twips * logicalDpiY() / 1440.0);
}

void Form1::placeInTwips(QWidget* w, int left, int top, int width, int height)
{
    w->setGeometry(twipsX(left), twipsY(top), twipsX(width), twipsY(height));
}

namespace {
// Shows its text as it stands: a file name holding "%p", "%v" or "%m" is not
// filled in with numbers.
class LiteralProgressBar : public QProgressBar
{
public:
    using QProgressBar::QProgressBar;
    QString text() const override { return format(); }
};
} // namespace

void Form1::createControls()
{
    setFont(arialBold(9));
    setPalette(ownPalette());
    setFixedSize(twipsX(8040), twipsY(6180));
    paint(this, QPalette::Window, Qt::white);
    setAutoFillBackground(true);
    setMouseTracking(true);

    // A report view: one row per file under a column header. A table keeps
    // appending rows cheap however long the list grows.
    m_listView = new QTableWidget(this);
    m_listView->setObjectName(QStringLiteral("ListView1"));
    m_listView->setColumnCount(0);
    m_listView->setSelectionMode(QAbstractItemView::SingleSelection);
    m_listView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_listView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_listView->setShowGrid(false);
    m_listView->setWordWrap(false);
    // One wide column: scrolling by items could never show the end of a long
    // path, so the list scrolls sideways by pixels.
    m_listView->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_listView->verticalHeader()->hide();
    m_listView->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_listView->setFont(arialBold(9));
    m_listView->verticalHeader()->setDefaultSectionSize(QFontMetrics(arialBold(9)).height() + 4);
    m_listView->setToolTip(texts::kListTooltip + QLatin1Char('\n') + texts::kPdfOptionsHint);
    m_listView->setMouseTracking(true);
    m_listView->viewport()->setMouseTracking(true);
    m_listView->viewport()->installEventFilter(this);
    m_listView->installEventFilter(this);
    placeInTwips(m_listView, 120, 630, 7800, 2535);
    m_list = PresentationList(m_listView);
    // Files dropped from outside; the list's own dragging of rows stays off.
    m_listView->setDragDropMode(QAbstractItemView::NoDragDrop);
    m_listView->viewport()->setAcceptDrops(true);
    m_listView->viewport()->installEventFilter(new DropHandler(m_listContext, this));

    m_frame = new QGroupBox(texts::kFrameCaption, this);
    m_frame->setObjectName(QStringLiteral("Frame2"));
    paint(m_frame, QPalette::Window, Qt::white);
    m_frame->setAutoFillBackground(true);
    m_frame->setMouseTracking(true);
    m_frame->installEventFilter(this);
    placeInTwips(m_frame, 120, 4200, 7800, 825);

    m_text = new QLineEdit(m_frame);
    m_text->setObjectName(QStringLiteral("Text1"));
    m_text->setMouseTracking(true);
    m_text->installEventFilter(this);
    placeInTwips(m_text, 225, 300, 6660, 345);
    connect(m_text, &QLineEdit::textChanged, this, &Form1::StoreOutputFolder);

    const QColor buttonText = ownPalette().color(QPalette::ButtonText);
    auto makeButton = [&](int number, const QString& caption, QWidget* parent, int l, int t, int w, int h) {
        auto* button = new QPushButton(caption, parent);
        button->setObjectName(QStringLiteral("PushButton%1").arg(number));
        button->setFont(arialBold(11.25));
        paint(button, QPalette::ButtonText, buttonText);
        paint(button, QPalette::Button, Qt::white);
        button->setMouseTracking(true);
        button->installEventFilter(this);
        placeInTwips(button, l, t, w, h);
        m_buttons[number] = button;
        return button;
    };
    makeButton(7, texts::kBrowseCaption, m_frame, 6960, 300, 600, 345);
    makeButton(3, texts::kHelpCaption, this, 120, 120, 7800, 405);

    m_progress = new LiteralProgressBar(this);
    m_progress->setObjectName(QStringLiteral("ProgressBar1"));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setFormat(texts::kProgressAtRest);
    m_progress->setTextVisible(true);
    m_progress->setAlignment(Qt::AlignCenter);
    paint(m_progress, QPalette::WindowText, buttonText);
    paint(m_progress, QPalette::Base, Qt::white);
    m_progress->setMouseTracking(true);
    m_progress->installEventFilter(this);
    placeInTwips(m_progress, 120, 5670, 7800, 405);

    makeButton(1, texts::kAddFilesCaption, this, 120, 3250, 3840, 405);
    makeButton(4, texts::kScanCaption, this, 4080, 3250, 3840, 405);
    makeButton(2, texts::kExportCaption, this, 120, 5150, 7800, 405);
    makeButton(5, texts::kClearCaption, this, 120, 3760, 3840, 405);
    makeButton(6, texts::kSamplesCaption, this, 4080, 3760, 3840, 405);

    setUpKeyboardAndReaders();

    // Last, so the filter never sees a half-built window.
    installEventFilter(this);
    m_skin = new SkinFramework(this);
    m_skin->setObjectName(QStringLiteral("SkinFramework1"));

    connect(m_buttons[3], &QPushButton::clicked, this, &Form1::ShowHelp);
    connect(m_buttons[1], &QPushButton::clicked, this, [this] { PushButton1_Click(m_listContext, m_commonDialog); });
    connect(m_buttons[4], &QPushButton::clicked, this, [this] { PushButton4_Click(m_listContext); });
    connect(m_buttons[2], &QPushButton::clicked, this, [this] {
        m_exportRun.PushButton2_Click();
        // A click while a run goes on starts none, and ends none.
        if (m_services.runEnded && !m_exportRun.ExportInProgress)
            m_services.runEnded();
    });
    connect(m_buttons[6], &QPushButton::clicked, this, [this] { PushButton6_Click(m_sampleContext); });
    connect(m_listView, &QTableWidget::itemPressed, this,
            [this](QTableWidgetItem* item) { ListView1_ItemClick(item ? item->row() + 1 : 0); });
    connect(m_buttons[5], &QPushButton::clicked, this, [this] { PushButton5_Click(m_listContext); });
    connect(m_buttons[7], &QPushButton::clicked, this, &Form1::PushButton7_Click);
}

void Form1::Form_Load()
{
    ErrorTrap trap(m_services.dialogs, tags::kFormLoad);
    const QString appFolder = m_services.appFolder;

    trap(100, [&] { ApplySkin(); });
    bool hasPointer = false;
    trap(104, [&] { hasPointer = FileExists(appFolder + texts::kHandPointerFile); });
    if (hasPointer) {
        trap(106, [&] {
            m_customPointer = LoadPointerFile(appFolder + texts::kHandPointerFile);
            if (!m_customPointer)
                throw Failure(failure::kInvalidArgument,
                              QStringLiteral("Invalid picture: %1").arg(appFolder + texts::kHandPointerFile));
        });
    }
    // A failed visit is reported and the record is still looked at.
    trap(108, [&] { VisitWebSiteNowAndThen(m_services.random, m_services.shell); });
    trap(108, [&] {
        if (m_steps.recordSampleFiles && m_services.settings.ReadSetting(settings::kSnapshot, QString()).isEmpty())
            m_steps.recordSampleFiles();
    });
    trap(124, [&] {
        if (m_steps.recordSampleFiles && m_services.settings.ReadSetting(settings::kSnapshot, QString()).isEmpty())
            m_steps.recordSampleFiles();
    });
    trap(126, [&] { setWindowTitle(kProductTitle); });
    trap(126, [&] {
        const QIcon icon(appFolder + texts::kIconFile);
        if (icon.isNull())
            throw Failure(failure::kFileNotFound,
                          QStringLiteral("File not found: %1").arg(appFolder + texts::kIconFile));
        setWindowIcon(icon);
    });
    trap(126, [&] {
        const QString title = ApplicationTitle(kProductTitle);
        m_services.dialogs.setApplicationTitle(title);
        QGuiApplication::setApplicationDisplayName(title);
    });
    trap(128, [&] {
        m_listView->setColumnCount(1);
        m_listView->setHorizontalHeaderItem(0, new QTableWidgetItem(texts::kColumnHeader));
    });
    trap(130, [&] { m_listView->setColumnWidth(0, twipsX(7000)); });
    trap(132, [&] {
        const QString fallback = DefaultOutputFolder(m_services.desktopFolder, m_services.homeFolder);
        m_text->setText(m_services.settings.ReadSetting(settings::kLocation, fallback));
    });
    bool goOn = true;
    if (m_steps.checkPowerPointInstalled)
        trap(134, [&] { goOn = m_steps.checkPowerPointInstalled(); });
    if (!goOn)
        return;
    if (m_steps.checkPdfPrinterInstalled)
        trap(134, m_steps.checkPdfPrinterInstalled);
}

void Form1::ApplySkin()
{
    const QString skinFile = m_services.appFolder + texts::kSkinFile;
    if (!QFileInfo(skinFile).isFile())
        return;
    const QColor buttonFace = ownPalette().color(QPalette::Button);
    paint(this, QPalette::Window, buttonFace);
    // Of the window's controls, only frames, labels, check and option buttons
    // take the face colour; here that is the frame alone.
    paint(m_frame, QPalette::Window, buttonFace);
    m_skin->LoadSkin(skinFile, QString());
    m_skin->setApplyOptions(m_skin->applyOptions() | 1);
    m_skin->setApplyMetrics(true);
    m_skin->setApplyColors(true);
    m_skin->ApplyWindow(this);
}

void Form1::ShowHelp()
{
    ErrorTrap trap(m_services.dialogs, tags::kHelp);
    trap(100, [&] { m_services.dialogs.msgBox(texts::kHelpText, msgbox::kOkOnly); });
}

void Form1::StoreOutputFolder()
{
    // The text box has no trap; a failed write is told once per change and the
    // text stays as typed.
    try {
        m_services.settings.WriteSetting(settings::kLocation, m_text->text());
    } catch (const Failure& f) {
        m_services.dialogs.msgBox(f.description(), msgbox::kExclamation);
    }
}

QString Form1::outputFolder() const
{
    return m_text->text();
}

QString Form1::whyNothingCanBePrinted() const
{
    const PrintChoices choices = ReadPdfChoices(m_services.settings);
    QStringList files;
    for (int row = 1; row <= m_list.Count(); ++row)
        files << m_list.Entry(row);
    const std::optional<office::SlidesPastTheEnd> past = office::SlidesPastEveryEnd(files, choices.slides);
    if (!past)
        return QString();
    return QStringLiteral("The slides chosen in PDF Options (%1) start past the last slide of every presentation in "
                          "the list: slide %2 was chosen, and the longest has %3. Nothing was exported.")
        .arg(printoutput::SlidesText(choices.slides))
        .arg(past->first)
        .arg(past->most == 1 ? QStringLiteral("1 slide") : QStringLiteral("%1 slides").arg(past->most));
}

void Form1::setProgressValue(int value)
{
    m_progress->setValue(value);
    if (m_services.desktopSignals && value > 0)
        m_services.desktopSignals->progress(value / 100.0, true);
}

void Form1::setProgressText(const QString& text)
{
    m_progress->setFormat(text);
    announceProgress(text);
}

void Form1::setMousePointer(int value)
{
    m_mousePointer = value;
    switch (value) {
    case pointer::kBusy:
        setCursor(Qt::WaitCursor);
        break;
    case pointer::kCustom:
        setCursor(m_customPointer ? *m_customPointer : QCursor(Qt::PointingHandCursor));
        break;
    default:
        unsetCursor();
        break;
    }
}

void Form1::UpdateHoverPointer(int value)
{
    if (m_mousePointer != pointer::kBusy && m_mousePointer != value)
        setMousePointer(value);
}

void Form1::AddCommandLinePaths(const QStringList& arguments)
{
    pradelux::AddCommandLinePaths(m_listContext, arguments);
}

void Form1::yield()
{
    DoEvents();
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    if (pressWithReturn(watched, event))
        return true;
    // Delete (whatever the modifiers) and a double-click anywhere in the list
    // remove the selected row.
    if (watched == m_listView && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        // The row the keyboard is on counts as selected: tabbed into, the
        // list has one before any arrow key selects it.
        if (m_listView->selectedItems().isEmpty() && m_listView->currentIndex().isValid())
            m_listView->selectRow(m_listView->currentIndex().row());
        m_list.RemoveSelectedEntry(*this);
        return true;
    }
    if (watched == m_listView->viewport()) {
        switch (event->type()) {
        case QEvent::MouseButtonDblClick:
            m_list.RemoveSelectedEntry(*this);
            return true;
        case QEvent::MouseButtonPress:
            ListView1_MouseDown();
            // A press below the last row keeps the selection, so a
            // double-click there removes the selected row.
            return !m_listView->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint()).isValid();
        case QEvent::MouseButtonRelease:
            ListView1_MouseUp();
            return false;
        case QEvent::MouseMove:
            UpdateHoverPointer(pointer::kDefault);
            ListView1_MouseMove(static_cast<QMouseEvent*>(event)->position().toPoint());
            // While a row is dragged the list must not move its selection itself.
            return DragActive;
        default:
            break;
        }
    }
    if (event->type() != QEvent::MouseMove)
        return QWidget::eventFilter(watched, event);
    // Each area handles its own moves and stops them there, so a move over a
    // button never reaches the window behind it.
    for (QPushButton* button : m_buttons) {
        if (button && watched == button) {
            UpdateHoverPointer(pointer::kCustom);
            return static_cast<QMouseEvent*>(event)->buttons() == Qt::NoButton;
        }
    }
    if (watched == this || watched == m_frame) {
        UpdateHoverPointer(pointer::kDefault);
        return true;
    }
    if (watched == m_text || watched == m_progress)
        return static_cast<QMouseEvent*>(event)->buttons() == Qt::NoButton;
    return QWidget::eventFilter(watched, event);
}

void Form1::closeEvent(QCloseEvent* event)
{
    event->accept();
    if (m_services.exitProgram)
        m_services.exitProgram(0);
}

} // namespace pradelux
