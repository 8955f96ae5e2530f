// What the dialogs of every front end share.
#include "Dialogs.h"

namespace pradelux {

QString DisplayText(const QString& text)
{
    QString out = text;
    out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

} // namespace pradelux
