// The presentation list.
#include "PresentationList.h"

#include "Failure.h"

#include <QTreeWidget>

namespace pradelux {

void PresentationList::AppendEntry(const QString& path)
{
    auto* item = new QTreeWidgetItem;
    item->setText(0, path);
    m_view->addTopLevelItem(item);
}

int PresentationList::Count() const { return m_view->topLevelItemCount(); }

QString PresentationList::Entry(int index) const
{
    if (index < 1 || index > Count())
        throw Failure(failure::kSubscriptOutOfRange,
                      QStringLiteral("Subscript out of range: row %1 of %2").arg(index).arg(Count()));
    return m_view->topLevelItem(index - 1)->text(0);
}

} // namespace pradelux
