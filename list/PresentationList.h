// The presentation list: the rows of ListView1, one full path per row,
// numbered from 1.
#pragma once

#include <QString>

class QTreeWidget;

namespace pradelux {

class PresentationList
{
public:
    explicit PresentationList(QTreeWidget* view) : m_view(view) {}

    void AppendEntry(const QString& path);
    int Count() const;
    // The text of row index (1 to Count); any other index is a Failure.
    QString Entry(int index) const;

    QTreeWidget* view() const { return m_view; }

private:
    QTreeWidget* m_view;
};

} // namespace pradelux
