// The scrambling of the sample record.
#include "SampleRecord.h"

#include "Failure.h"

namespace pradelux {

namespace {
QByteArray keyBytes(const QString& key)
{
    const QByteArray bytes = key.toLatin1();
    if (bytes.isEmpty())
        throw Failure(failure::kInvalidArgument, QStringLiteral("Invalid procedure call or argument: empty key"));
    return bytes;
}
} // namespace

QString ScrambleText(const QString& text, const QString& key, const std::function<void()>& yield)
{
    const QByteArray k = keyBytes(key);
    const QByteArray in = text.toUtf8();
    QByteArray out(in.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (yield)
            yield();
        int v = static_cast<uchar>(in[i]) + static_cast<uchar>(k[i % k.size()]);
        if (v > 255)
            v -= 255;
        out[i] = static_cast<char>(v);
    }
    return QString::fromLatin1(out);
}

QString UnscrambleText(const QString& text, const QString& key, const std::function<void()>& yield)
{
    const QByteArray k = keyBytes(key);
    QByteArray out(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (yield)
            yield();
        int v = (text[i].unicode() & 0xFF) - static_cast<uchar>(k[i % k.size()]);
        if (v < 1)
            v += 255;
        out[i] = static_cast<char>(v);
    }
    return QString::fromUtf8(out);
}

} // namespace pradelux
