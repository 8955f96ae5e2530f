// The Qt implementation of the program's dialogs.
#include "Dialogs.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace pradelux {

QString QtDialogs::displayText(const QString& text)
{
    QString out = text;
    out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

int QtDialogs::showMessage(const QString& text, int style, const QString& title)
{
    QMessageBox box(m_parent);
    box.setWindowTitle(title);
    box.setText(displayText(text));
    box.setTextFormat(Qt::PlainText);
    if ((style & 0x30) == msgbox::kExclamation)
        box.setIcon(QMessageBox::Warning);
    if ((style & 0x7) == msgbox::kYesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes ? msgbox::kYes : msgbox::kNo;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return msgbox::kOk;
}

QString QtDialogs::askText(const QString& prompt, const QString& title, const QString& preset)
{
    bool ok = false;
    const QString answer = QInputDialog::getText(m_parent, title, displayText(prompt), QLineEdit::Normal, preset, &ok);
    return ok ? answer : QString();
}

QStringList QtDialogs::openFiles(const OpenFileRequest& request)
{
    // "Description|pattern|Description|pattern" becomes Qt's "Description (pattern)" lines.
    const QStringList parts = request.filter.split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        filters << QStringLiteral("%1 (%2)").arg(parts[i], QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' ')));
    QFileDialog dialog(m_parent, request.title, request.initialName);
    dialog.setNameFilters(filters);
    dialog.setFileMode(request.multiSelect ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

QString QtDialogs::browseForFolder(const QString& prompt, const QString& startFolder)
{
    return QFileDialog::getExistingDirectory(m_parent, prompt, startFolder);
}

} // namespace pradelux
