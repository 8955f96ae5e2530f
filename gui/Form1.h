// Form1: the program's one window, its controls and its start-up.
#pragma once

#include "CommonDialog.h"
#include "ExportRun.h"
#include "ListHost.h"
#include "ListOperations.h"
#include "PresentationList.h"
#include "SampleFiles.h"

#include <QCursor>
#include <QDir>
#include <QPersistentModelIndex>
#include <QPoint>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class QGroupBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace pradelux {

class Automation;
class Dialogs;
class DesktopSignals;
class RunLock;
class SettingsStore;
class Shell;
class SkinFramework;

// What the window needs from outside; tests pass fakes.
struct Form1Services
{
    Dialogs& dialogs;
    Shell& shell;
    SettingsStore& settings;
    QString appFolder;
    std::function<double()> random;
    std::function<QString()> desktopFolder;
    std::function<void(int)> exitProgram;
    // The running presentation application is looked for through this, and
    // each row is exported with exportOne. Without them nothing is exported.
    Automation* automation = nullptr;
    ExportRun::ExportOne exportOne;
    // The pointer's position on the screen, in pixels.
    std::function<QPoint()> cursorPosition = [] { return QCursor::pos(); };
    // The output folder of the first start when there is no desktop folder.
    QString homeFolder = QDir::homePath();
    // Held for each export run, so that one export runs at a time.
    RunLock* exportLock = nullptr;
    // The task bar's progress and the notification at the end of an export.
    DesktopSignals* desktopSignals = nullptr;
    // Told when an export run has ended, however it ended.
    std::function<void()> runEnded = {};
};

// The start-up calls that other parts of the program hand to the window:
// recording the sample files, and the two prerequisite checks.
struct StartupSteps
{
    std::function<void()> recordSampleFiles;
    // Returns false when the program has to end.
    std::function<bool()> checkPowerPointInstalled;
    std::function<void()> checkPdfPrinterInstalled;
};

class Form1 : public QWidget, public ListHost, public ExportHost
{
    Q_OBJECT
    Q_PROPERTY(int MousePointer READ mousePointer WRITE setMousePointer)
public:
    explicit Form1(Form1Services services, StartupSteps steps = {}, QWidget* parent = nullptr);
    ~Form1() override;

    // The start-up sequence; runs once before the window is shown.
    void Form_Load();

    int mousePointer() const override { return m_mousePointer; }
    void setMousePointer(int value) override;
    void yield() override;

    int rowCount() const override { return m_list.Count(); }
    QString rowText(int row) const override { return m_list.Entry(row); }
    void setProgressValue(int value) override;
    void setProgressText(const QString& text) override;
    void exportFinished(const ExportOutcome& outcome) override;
    // The colours the window keeps whatever the desktop's theme.
    static QPalette ownPalette();
    ExportRun& exportRun() { return m_exportRun; }

    // Dragging rows to reorder them.
    void ListView1_MouseDown();
    void ListView1_ItemClick(int row);
    void ListView1_MouseMove(const QPoint& position);
    void ListView1_MouseUp();
    bool DragActive = false;
    // The dragged row (1-based), or 0 for none, also when its row was removed.
    int draggedRow() const;
    // The list's own pointer value: 99 the drag pointer, 1 the arrow.
    int listMousePointer() const { return m_listPointer; }

    PresentationList& presentations() { return m_list; }
    // The files and folders the program was started with.
    void AddCommandLinePaths(const QStringList& arguments);
    QString outputFolder() const override;
    // The slides chosen in PDF Options past every listed presentation's last.
    QString whyNothingCanBePrinted() const override;
    bool hasCustomPointerPicture() const { return m_customPointer.has_value(); }
    SkinFramework& skin() { return *m_skin; }

    // Positions of the window are given in twips; these convert at the
    // screen's resolution.
    int twipsX(int twips) const;
    int twipsY(int twips) const;

    void ApplySkin();
    void ShowHelp();
    void StoreOutputFolder();
    void PushButton7_Click();
    CommonDialog& commonDialog() { return m_commonDialog; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void placeInTwips(QWidget* w, int left, int top, int width, int height);
    void UpdateHoverPointer(int value);
    void setUpKeyboardAndReaders();
    void announceProgress(const QString& text);
    // Return and Enter press the focused button, as Space does.
    bool pressWithReturn(QObject* watched, QEvent* event);

    Form1Services m_services;
    StartupSteps m_steps;
    int m_mousePointer = pointer::kDefault;
    std::optional<QCursor> m_customPointer;
    SkinFramework* m_skin = nullptr;

    QTableWidget* m_listView = nullptr;
    QGroupBox* m_frame = nullptr;
    QLineEdit* m_text = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_buttons[8] = {};
    PresentationList m_list{nullptr};
    CommonDialog m_commonDialog;
    ListContext m_listContext;
    ExportRun m_exportRun;
    QString m_lastOutputFolder;
    SampleContext m_sampleContext;
    QPersistentModelIndex m_draggedRow;
    int m_listPointer = 0;
};

} // namespace pradelux
