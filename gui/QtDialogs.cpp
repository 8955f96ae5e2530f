// The Qt implementation of the program's dialogs.
#include "QtDialogs.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QRegularExpression>

namespace pradelux {

int QtDialogs::showMessage(const QString& text, int style, const QString& title)
{
    QMessageBox box(m_parent);
    box.setWindowTitle(title);
    box.setText(DisplayText(text));
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
    const QString answer = QInputDialog::getText(m_parent, title, DisplayText(prompt), QLineEdit::Normal, preset, &ok);
    return ok ? answer : QString();
}

std::optional<QString> QtDialogs::askPassword(const QString& presentation, bool again)
{
    QInputDialog ask(m_parent);
    ask.setWindowTitle(applicationTitle());
    ask.setLabelText(again ? QStringLiteral("That password does not open %1.\nType its password:").arg(presentation)
                           : QStringLiteral("%1 is protected by a password.\nType its password:").arg(presentation));
    ask.setTextEchoMode(QLineEdit::Password);
    ask.setOkButtonText(QStringLiteral("OK"));
    ask.setCancelButtonText(QStringLiteral("Skip"));
    ask.setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
    const bool given = ask.exec() == QDialog::Accepted;
    QString typed = ask.textValue();
    // The field's own copy goes with the dialog.
    ask.setTextValue(QString());
    if (!given)
        return std::nullopt;
    return typed;
}

QStringList QtDialogs::qtNameFilters(const QString& filter)
{
    // "Description|pattern;pattern|..." becomes Qt's "Description (pattern pattern)"
    // lines. A description that already shows its patterns in brackets keeps
    // them as Qt's pattern part. "*.*" means every file, also one without a dot.
    static const QRegularExpression shownPatterns(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& p : patterns)
            if (p == QLatin1String("*.*"))
                p = QStringLiteral("*");
        filters << QStringLiteral("%1 (%2)").arg(QString(parts[i]).remove(shownPatterns),
                                                 patterns.join(QLatin1Char(' ')));
    }
    return filters;
}

QStringList QtDialogs::openFiles(const OpenFileRequest& request)
{
    const QStringList filters = qtNameFilters(request.filter);
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
