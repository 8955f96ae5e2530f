// What the processes of a rendering say to each other.
#include "Protocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>

#include <unistd.h>

namespace pradelux::render::boundary {

namespace {
// A count larger than this is no slide deck's.
constexpr int kPagesMax = 1000000;

struct ResultName
{
    Result result;
    const char* name;
};
constexpr ResultName kResults[] = {
    {Result::Printed, "printed"},       {Result::NotLoaded, "load"},         {Result::NotAPresentation, "type"},
    {Result::NotSaved, "save"},         {Result::TooLarge, "size"},          {Result::BadRequest, "request"},
    {Result::OutOfStep, "out of step"}, {Result::WrongPassword, "password"},
};

QString nameOf(Result result)
{
    for (const ResultName& r : kResults) {
        if (r.result == result)
            return QLatin1String(r.name);
    }
    return QString();
}

std::optional<Result> resultNamed(const QJsonValue& name)
{
    for (const ResultName& r : kResults) {
        if (name.toString() == QLatin1String(r.name))
            return r.result;
    }
    return std::nullopt;
}

QByteArray lineOf(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

// The object a line holds; nothing when it holds none.
std::optional<QJsonObject> objectOf(const QByteArray& line)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

const QString kPresentation = QStringLiteral("presentation");
const QString kLinks = QStringLiteral("links");
const QString kFilter = QStringLiteral("filter");
const QString kAlone = QStringLiteral("alone");
const QString kPasswords = QStringLiteral("passwords");
const QString kResult = QStringLiteral("result");
const QString kSuccessor = QStringLiteral("successor");
const QString kId = QStringLiteral("id");
const QString kPdf = QStringLiteral("pdf");
const QString kReady = QStringLiteral("ready");
const QString kError = QStringLiteral("error");
const QString kStandIns = QStringLiteral("standIns");

QJsonArray standInsArray(const QList<StandIn>& standIns)
{
    QJsonArray out;
    for (const StandIn& s : standIns)
        out.append(QJsonArray{s.requested, s.printed});
    return out;
}

bool fontName(const QJsonValue& value)
{
    const QString name = value.toString();
    return value.isString() && !name.isEmpty() && name.size() <= kStandInNameMax &&
           std::none_of(name.cbegin(), name.cend(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

// Within the bounds, or nothing.
std::optional<QList<StandIn>> standInsOf(const QJsonValue& value)
{
    QList<StandIn> out;
    if (value.isUndefined())
        return out;
    const QJsonArray pairs = value.toArray();
    if (!value.isArray() || pairs.size() > kMostStandIns)
        return std::nullopt;
    for (const QJsonValue& pair : pairs) {
        const QJsonArray names = pair.toArray();
        if (names.size() != 2 || !fontName(names[0]) || !fontName(names[1]))
            return std::nullopt;
        out.append({names[0].toString(), names[1].toString()});
    }
    return out;
}
} // namespace

QByteArray Request::line() const
{
    QJsonObject o{{kPresentation, presentation},
                  {kLinks, QJsonArray::fromStringList(links)},
                  {kFilter, filter},
                  {kAlone, alone || !passwords.isEmpty()}};
    if (!passwords.isEmpty())
        o.insert(kPasswords, QJsonArray::fromStringList(passwords));
    return lineOf(o);
}

std::optional<Request> Request::read(const QByteArray& line)
{
    const std::optional<QJsonObject> o = objectOf(line);
    if (!o || !o->value(kPresentation).isString())
        return std::nullopt;
    Request request{o->value(kPresentation).toString(), {}, o->value(kFilter).toObject(), o->value(kAlone).toBool()};
    for (const QJsonValue& link : o->value(kLinks).toArray())
        request.links << link.toString();
    for (const QJsonValue& password : o->value(kPasswords).toArray())
        request.passwords << password.toString();
    // A protected presentation is printed alone, whatever the line says.
    request.alone = request.alone || !request.passwords.isEmpty();
    return request;
}

QByteArray Answer::line() const
{
    QJsonObject o{{kResult, nameOf(result)}};
    if (successor > 0)
        o.insert(kSuccessor, successor);
    if (!standIns.isEmpty())
        o.insert(kStandIns, standInsArray(standIns));
    return lineOf(o);
}

std::optional<Answer> Answer::read(const QByteArray& line)
{
    const std::optional<QJsonObject> o = objectOf(line);
    const std::optional<Result> result = o ? resultNamed(o->value(kResult)) : std::nullopt;
    const std::optional<QList<StandIn>> standIns = o ? standInsOf(o->value(kStandIns)) : std::nullopt;
    if (!result || !standIns)
        return std::nullopt;
    return Answer{*result, qMax<qint64>(0, o->value(kSuccessor).toInteger()), *standIns};
}

QByteArray Job::line() const
{
    QJsonObject o{{kId, id}, {kPresentation, presentation}, {kPdf, pdf}, {kFilter, filter}};
    if (!passwords.isEmpty())
        o.insert(kPasswords, QJsonArray::fromStringList(passwords));
    return lineOf(o);
}

std::optional<Job> Job::read(const QByteArray& line)
{
    const std::optional<QJsonObject> o = objectOf(line);
    if (!o)
        return std::nullopt;
    Job job{o->value(kId).toInteger(), o->value(kPresentation).toString(), o->value(kPdf).toString(),
            o->value(kFilter).toObject()};
    for (const QJsonValue& password : o->value(kPasswords).toArray())
        job.passwords << password.toString();
    if (job.presentation.isEmpty() || job.pdf.isEmpty())
        return std::nullopt;
    return job;
}

QByteArray Done::line() const
{
    QJsonObject o{{kId, id}, {kResult, nameOf(result)}};
    if (!standIns.isEmpty())
        o.insert(kStandIns, standInsArray(standIns));
    return lineOf(o);
}

std::optional<Done> Done::read(const QByteArray& line)
{
    const std::optional<QJsonObject> o = objectOf(line);
    const std::optional<Result> result = o ? resultNamed(o->value(kResult)) : std::nullopt;
    const std::optional<QList<StandIn>> standIns = o ? standInsOf(o->value(kStandIns)) : std::nullopt;
    if (!result || !standIns || !o->value(kId).isDouble())
        return std::nullopt;
    return Done{o->value(kId).toInteger(), *result, *standIns};
}

QByteArray Ready::line() const
{
    QJsonObject o{{kReady, ready}};
    if (!error.isEmpty())
        o.insert(kError, error);
    return lineOf(o);
}

std::optional<Ready> Ready::read(const QByteArray& line)
{
    const std::optional<QJsonObject> o = objectOf(line);
    if (!o)
        return std::nullopt;
    return Ready{o->value(kReady).toBool(), o->value(kError).toString()};
}

QByteArray CountAsk::line() const
{
    if (!letters)
        return "count\n";
    QByteArrayList codes;
    for (const char32_t c : letters->first(qMin<qsizetype>(letters->size(), kMostDeckLetters)))
        codes << QByteArray::number(c, 16).toUpper();
    return "count letters" + (codes.isEmpty() ? QByteArray() : ' ' + codes.join(',')) + '\n';
}

std::optional<CountAsk> CountAsk::read(const QByteArray& line)
{
    if (line == "count\n")
        return CountAsk{};
    static const QRegularExpression kLine(
        QStringLiteral("^count letters(?: ([0-9A-F]{1,6}(?:,[0-9A-F]{1,6}){0,%1}))?\n$").arg(kMostDeckLetters - 1));
    const QRegularExpressionMatch match = kLine.match(QString::fromLatin1(line));
    if (!match.hasMatch())
        return std::nullopt;
    QList<char32_t> letters;
    for (const QString& code : match.captured(1).split(QLatin1Char(','), Qt::SkipEmptyParts))
        letters << static_cast<char32_t>(code.toUInt(nullptr, 16));
    return CountAsk{letters};
}

QByteArray PdfFacts::line() const
{
    QByteArrayList letters;
    for (const char32_t c : lacking.first(qMin<qsizetype>(lacking.size(), kMostLacking)))
        letters << QByteArray::number(c, 16).toUpper();
    return "pages " + QByteArray::number(pages) + " version " + version.toLatin1() + " pdfa " +
           QByteArray::number(pdfa) + " tagged " + (tagged ? "1" : "0") +
           (letters.isEmpty() ? QByteArray() : " lacking " + letters.join(',')) + '\n';
}

PdfFacts PdfFacts::read(const QByteArray& line)
{
    static const QRegularExpression kLine(
        QStringLiteral("^pages (-1|\\d{1,7}) version ([1-2]\\.\\d) pdfa ([0-4]) tagged ([01])"
                       "(?: lacking ([0-9A-F]{1,6}(?:,[0-9A-F]{1,6}){0,%1}))?\\n$")
            .arg(kMostLacking - 1));
    const QRegularExpressionMatch match = kLine.match(QString::fromLatin1(line));
    PdfFacts facts;
    if (!match.hasMatch() || match.captured(1).toInt() > kPagesMax)
        return facts;
    facts.pages = match.captured(1).toInt();
    facts.version = match.captured(2);
    facts.pdfa = match.captured(3).toInt();
    facts.tagged = match.captured(4) == QLatin1String("1");
    for (const QString& code : match.captured(5).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const uint c = code.toUInt(nullptr, 16);
        // A letter that prints: no control character, no surrogate.
        if (c <= 0x20 || (c >= 0x7f && c < 0xa0) || (c >= 0xd800 && c < 0xe000) || c > 0x10ffff)
            return PdfFacts();
        facts.lacking << static_cast<char32_t>(c);
    }
    return facts;
}

qint64 PdfSizeLimit()
{
    bool ok = false;
    const qint64 mib = qEnvironmentVariableIntValue("PRADELUX_RENDER_PDF_LIMIT", &ok);
    return ok && mib > 0 ? mib << 20 : qint64(2) << 30;
}

bool PdfFileSound(const struct stat& st, nlink_t links)
{
    // Sparse: a few blocks that claim gigabytes, which a copy would write out.
    return S_ISREG(st.st_mode) && st.st_nlink == links && st.st_uid == ::geteuid() && st.st_size >= 0 &&
           qint64(st.st_blocks) * 512 >= st.st_size;
}

} // namespace pradelux::render::boundary
