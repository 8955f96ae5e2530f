// Dragging a row up or down the list: the dragged text travels one row per
// mouse move by exchanging texts with the row under the pointer.
#include "Form1.h"
#include "Pointers.h"

#include <QTableWidget>

namespace pradelux {

namespace {
const QString kDragPointerFile = QStringLiteral("/drag.ico");
// Screen heights (pixels from the top) above and below which the list
// scrolls by one row after an exchange.
constexpr int kScrollUpAbove = 305;
constexpr int kScrollDownBelow = 364;
constexpr int kListArrow = 1;
constexpr int kListDragPointer = 99;
} // namespace

void Form1::ListView1_MouseDown()
{
    DragActive = true;
}

void Form1::ListView1_ItemClick(int row)
{
    m_listPointer = kListDragPointer;
    // A missing picture leaves Qt's own move pointer.
    const auto picture = LoadPointerFile(m_services.appFolder + kDragPointerFile);
    m_listView->viewport()->setCursor(picture ? *picture : QCursor(Qt::DragMoveCursor));
    m_listView->setDragEnabled(false);
    const auto selected = m_listView->selectedItems();
    const int selectedRow = selected.isEmpty() ? row - 1 : selected.constFirst()->row();
    m_draggedRow =
        selectedRow >= 0 ? QPersistentModelIndex(m_listView->model()->index(selectedRow, 0)) : QPersistentModelIndex();
}

int Form1::draggedRow() const
{
    return m_draggedRow.isValid() ? m_draggedRow.row() + 1 : 0;
}

void Form1::ListView1_MouseMove(const QPoint& position)
{
    if (!DragActive)
        return;
    QTableWidgetItem* hit = m_listView->itemAt(position);
    if (!hit || !m_draggedRow.isValid())
        return;
    QTableWidgetItem* dragged = m_listView->item(m_draggedRow.row(), 0);
    if (!dragged || hit->text() == dragged->text())
        return;
    const QString moving = dragged->text();
    dragged->setText(hit->text());
    hit->setText(moving);
    const int hitIndex = hit->row() + 1;
    m_listView->selectRow(hitIndex - 1);
    m_draggedRow = QPersistentModelIndex(m_listView->model()->index(hitIndex - 1, 0));

    const int screenY = m_services.cursorPosition().y();
    if (screenY < kScrollUpAbove && hitIndex >= 2)
        m_listView->scrollToItem(m_listView->item(hitIndex - 2, 0));
    else if (screenY > kScrollDownBelow && m_list.Count() >= hitIndex + 1)
        m_listView->scrollToItem(m_listView->item(hitIndex, 0));
}

void Form1::ListView1_MouseUp()
{
    DragActive = false;
    m_listPointer = kListArrow;
    m_listView->viewport()->setCursor(Qt::ArrowCursor);
}

} // namespace pradelux
