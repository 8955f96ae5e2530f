// The presentation list.
#include "PresentationList.h"

#include "Failure.h"
#include "ListHost.h"

#include <QTableWidget>

namespace pradelux {

void PresentationList::AppendEntry(const QString& path)
{
    if (m_view->columnCount() == 0)
        m_view->setColumnCount(1);
    const int row = m_view->rowCount();
    m_view->insertRow(row);
    m_view->setItem(row, 0, new QTableWidgetItem(path));
}

void PresentationList::AppendEntries(const QStringList& paths)
{
    if (paths.isEmpty())
        return;
    if (m_view->columnCount() == 0)
        m_view->setColumnCount(1);
    const int first = m_view->rowCount();
    m_view->setRowCount(first + static_cast<int>(paths.size()));
    for (int i = 0; i < paths.size(); ++i)
        m_view->setItem(first + i, 0, new QTableWidgetItem(paths[i]));
}

int PresentationList::Count() const
{
    return m_view->rowCount();
}

QString PresentationList::Entry(int index) const
{
    if (index < 1 || index > Count())
        throw Failure(failure::kSubscriptOutOfRange,
                      QStringLiteral("Subscript out of range: row %1 of %2").arg(index).arg(Count()));
    const QTableWidgetItem* item = m_view->item(index - 1, 0);
    return item ? item->text() : QString();
}

void PresentationList::RemoveSelectedEntry(const ListHost& host)
{
    if (host.mousePointer() == pointer::kBusy || Count() == 0)
        return;
    const auto selected = m_view->selectedItems();
    if (selected.isEmpty())
        return;
    m_view->removeRow(selected.constFirst()->row());
}

void PresentationList::ClearEntries(const ListHost& host)
{
    if (host.mousePointer() == pointer::kBusy)
        return;
    m_view->setRowCount(0);
}

} // namespace pradelux
