// Mouse pointers from cursor and icon files.
#include "Pointers.h"

#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QtEndian>

namespace pradelux {

std::optional<QCursor> LoadPointerFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray data = file.readAll();
    // Header: reserved, type (1 icon, 2 cursor), count; then 16-byte entries
    // whose bytes 4..7 hold the cursor's hot spot.
    if (data.size() < 22)
        return std::nullopt;
    const auto* bytes = reinterpret_cast<const uchar*>(data.constData());
    const quint16 type = qFromLittleEndian<quint16>(bytes + 2);
    QImage image;
    if (!image.loadFromData(data, type == 2 ? "cur" : "ico") || image.isNull())
        return std::nullopt;
    int hotX = image.width() / 2;
    int hotY = image.height() / 2;
    if (type == 2) {
        hotX = qFromLittleEndian<quint16>(bytes + 10);
        hotY = qFromLittleEndian<quint16>(bytes + 12);
    }
    return QCursor(QPixmap::fromImage(image), hotX, hotY);
}

} // namespace pradelux
