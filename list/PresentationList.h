// The presentation list: the rows of ListView1, one full path per row,
// numbered from 1.
#pragma once

#include <QString>

class QTableWidget;

namespace pradelux {

class ListHost;

class PresentationList
{
public:
    explicit PresentationList(QTableWidget* view) : m_view(view) {}

    void AppendEntry(const QString& path);
    // Appends the paths in order, as AppendEntry would one by one, in one
    // change of the list.
    void AppendEntries(const QStringList& paths);
    int Count() const;
    // The text of row index (1 to Count); any other index is a Failure.
    QString Entry(int index) const;

    // Both do nothing while the window shows the busy pointer.
    void RemoveSelectedEntry(const ListHost& host);
    void ClearEntries(const ListHost& host);

    QTableWidget* view() const { return m_view; }

private:
    QTableWidget* m_view;
};

} // namespace pradelux
