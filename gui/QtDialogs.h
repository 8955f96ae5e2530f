// The program's dialogs as Qt's boxes and file dialogs.
#pragma once

#include "Dialogs.h"

class QWidget;

namespace pradelux {

// The Qt dialogs; parent is the window the boxes belong to.
class QtDialogs : public Dialogs
{
public:
    explicit QtDialogs(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }

    QStringList openFiles(const OpenFileRequest& request) override;
    QString browseForFolder(const QString& prompt, const QString& startFolder) override;
    std::optional<QString> askPassword(const QString& presentation, bool again) override;

    // The open-file filter text as Qt's name filters.
    static QStringList qtNameFilters(const QString& filter);

protected:
    int showMessage(const QString& text, int style, const QString& title) override;
    QString askText(const QString& prompt, const QString& title, const QString& preset) override;

private:
    QWidget* m_parent;
};

} // namespace pradelux
