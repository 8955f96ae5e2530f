// Path clean-up for the paths the adding operations compose.
#include "Paths.h"

namespace pradelux {

namespace {
QString collapsePairs(const QString& path, QChar sep)
{
    QString out;
    out.reserve(path.size());
    for (int i = 0; i < path.size(); ++i) {
        out += path[i];
        if (path[i] == sep && i + 1 < path.size() && path[i + 1] == sep)
            ++i;
    }
    return out;
}
} // namespace

QString CollapseBackslashes(const QString& path, PathStyle style)
{
    const QChar sep = style == PathStyle::Windows ? QLatin1Char('\\') : QLatin1Char('/');
    if (path.isEmpty() || path[0] != sep)
        return collapsePairs(path, sep);
    int p = 1;
    while (p < path.size() && path[p] == sep)
        ++p;
    const QString head = style == PathStyle::Windows ? QString(2, sep) : QString(sep);
    return head + collapsePairs(path.mid(p), sep);
}

} // namespace pradelux
