// The window for every user: keys and shortcuts, names for screen readers,
// colours of its own, and word to the desktop while an export runs.
#include "DesktopSignals.h"
#include "Form1.h"
#include "PdfChoices.h"
#include "Startup.h"
#include "Texts.h"

#include <QAction>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTableWidget>

namespace pradelux {

namespace {
struct Key
{
    int button;
    QKeySequence keys;
};
} // namespace

QPalette Form1::ownPalette()
{
    // Light whatever the desktop's theme: every text stays dark on light.
    QPalette p;
    const QColor text(0x1d, 0x24, 0x30);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::ToolTipText,
                            QPalette::PlaceholderText, QPalette::BrightText})
        p.setColor(role, text);
    p.setColor(QPalette::Window, Qt::white);
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::AlternateBase, QColor(0xf2, 0xf4, 0xf7));
    p.setColor(QPalette::Button, QColor(0xef, 0xef, 0xef));
    p.setColor(QPalette::ToolTipBase, QColor(0xff, 0xff, 0xe8));
    p.setColor(QPalette::Highlight, QColor(0x1f, 0x5f, 0xbf));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x5c, 0x63, 0x6e));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x5c, 0x63, 0x6e));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x5c, 0x63, 0x6e));
    return p;
}

void Form1::setUpKeyboardAndReaders()
{
    // Tab leaves the list; the arrow keys move between its rows.
    m_listView->setTabKeyNavigation(false);
    // As the window reads: top to bottom, left to right.
    const QList<QWidget*> order = {m_buttons[3], m_listView, m_buttons[1], m_buttons[4], m_buttons[5],
                                   m_buttons[6], m_text,     m_buttons[7], m_buttons[2]};
    for (int i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);

    const QList<Key> keys = {{1, QKeySequence(Qt::CTRL | Qt::Key_O)},
                             {4, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O)},
                             {2, QKeySequence(Qt::CTRL | Qt::Key_Return)},
                             {2, QKeySequence(Qt::CTRL | Qt::Key_Enter)},
                             {3, QKeySequence(Qt::Key_F1)}};
    for (const Key& key : keys) {
        QPushButton* button = m_buttons[key.button];
        connect(new QShortcut(key.keys, this), &QShortcut::activated, button, &QPushButton::click);
        if (button->toolTip().isEmpty())
            button->setToolTip(
                QStringLiteral("%1 (%2)").arg(button->text(), key.keys.toString(QKeySequence::NativeText)));
    }
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_L), this), &QShortcut::activated, this, [this] {
        m_text->setFocus(Qt::ShortcutFocusReason);
        m_text->selectAll();
    });
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this), &QShortcut::activated, this, &QWidget::close);
    // What the PDFs hold and how they are made: from the keyboard, or the
    // window's context menu.
    auto* choices = new QAction(QStringLiteral("PDF Options..."), this);
    choices->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P));
    choices->setShortcutContext(Qt::WindowShortcut);
    connect(choices, &QAction::triggered, this, [this] { PdfChoicesDialog(m_services.settings, this).exec(); });
    addAction(choices);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    m_text->setToolTip(QStringLiteral("The folder the PDFs go to (Ctrl+L)"));
    m_buttons[2]->setToolTip(m_buttons[2]->toolTip() + QLatin1Char('\n') + texts::kPdfOptionsHint);
    m_buttons[7]->setToolTip(QStringLiteral("Choose the folder the PDFs go to"));

    for (QPushButton* button : m_buttons) {
        if (button)
            button->setAccessibleName(button->text());
    }
    m_buttons[7]->setAccessibleName(QStringLiteral("Choose the output folder"));
    m_buttons[7]->setAccessibleDescription(QStringLiteral("Opens a folder dialog to choose where the PDFs go."));
    m_listView->setAccessibleName(texts::kColumnHeader);
    m_listView->setAccessibleDescription(
        QStringLiteral("The presentations to export, one a row. Add them with \"Add PowerPoint File(s)\" (Ctrl+O), "
                       "\"Add All Files In Folder\" (Ctrl+Shift+O) or by dropping files here; Delete or a "
                       "double-click removes the selected row."));
    m_frame->setAccessibleName(texts::kFrameCaption);
    m_text->setAccessibleName(texts::kFrameCaption);
    m_text->setAccessibleDescription(QStringLiteral("The folder the PDFs go to."));
    m_progress->setAccessibleName(QStringLiteral("Export progress"));
    m_progress->setAccessibleDescription(m_progress->format());
    setAccessibleName(kProductTitle);
}

void Form1::announceProgress(const QString& text)
{
    // Qt tells screen readers of the change itself; told again, they said
    // every progress text twice.
    m_progress->setAccessibleDescription(text);
}

bool Form1::pressWithReturn(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) || key->modifiers() & ~Qt::KeypadModifier)
        return false;
    for (QPushButton* button : m_buttons) {
        if (button && watched == button) {
            button->click();
            return true;
        }
    }
    return false;
}

void Form1::exportFinished(const ExportOutcome& outcome)
{
    if (!m_services.desktopSignals)
        return;
    m_services.desktopSignals->progress(0, false);
    if (isActiveWindow())
        return;
    const qsizetype written = outcome.written.size();
    const qsizetype failed = outcome.failed.size();
    const QString pdfs =
        written == 1 ? QStringLiteral("1 PDF written") : QStringLiteral("%1 PDFs written").arg(written);
    const QString rows = failed == 0   ? QStringLiteral("every row gave its PDF")
                         : failed == 1 ? QStringLiteral("1 row gave no PDF")
                                       : QStringLiteral("%1 rows gave no PDF").arg(failed);
    m_services.desktopSignals->notify(QStringLiteral("Export finished"), pdfs + QStringLiteral(", ") + rows + '.');
}

} // namespace pradelux
