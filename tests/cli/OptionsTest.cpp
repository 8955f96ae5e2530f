// The options as the program reads them are the ones its usage, its manual
// page and its documentation list.
#include "CommandLine.h"
#include "ExportOptions.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>

using namespace pradelux;

namespace {
QString sourceFile(const char* path)
{
    QFile file(QStringLiteral(PRADELUX_SOURCE_DIR "/") + QLatin1String(path));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QSet<QString> optionsIn(const QString& text)
{
    static const QRegularExpression option(QStringLiteral("(?<![\\w-])(--?[a-z0-9][a-z0-9-]*)"));
    QSet<QString> found;
    for (const QRegularExpressionMatch& m : option.globalMatch(text))
        found << m.captured(1);
    return found;
}

// The options a listing names: of the usage, the first column of its lines
// that begin with an option; of the manual page, the lines after .TP.
QSet<QString> listedIn(const QString& text, bool manual)
{
    QSet<QString> listed;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (manual && lines[i] == QLatin1String(".TP") && i + 1 < lines.size())
            listed += optionsIn(QString(lines[i + 1]).replace(QLatin1String("\\-"), QLatin1String("-")));
        if (!manual && lines[i].startsWith(QLatin1String("  -")))
            listed += optionsIn(lines[i].mid(2, 20));
    }
    return listed;
}
std::string named(const QSet<QString>& options)
{
    QStringList sorted = options.values();
    sorted.sort();
    return sorted.join(QLatin1Char(' ')).toStdString();
}
} // namespace

TEST(Options, EveryOptionReadIsListedInTheUsageTheManualPageAndTheDocsAndNoOtherIs)
{
    const QStringList names = ListedOptionNames();
    QSet<QString> read(names.cbegin(), names.cend());
    ASSERT_TRUE(read.contains("--password-file") && read.contains("-o") && !read.contains("--job"));
    // --export names the program's mode, in the first line of each.
    read.remove(QStringLiteral("--export"));
    const QString docs = sourceFile("docs/command-line.md");
    const struct
    {
        const char* where;
        QSet<QString> listed;
    } listings[] = {{"the usage", listedIn(CommandLineUsage(), false)},
                    {"the manual page", listedIn(sourceFile("packaging/pradelux.1"), true)}};
    for (const auto& l : listings) {
        EXPECT_EQ(named(QSet<QString>(read).subtract(l.listed)), "") << "read but not listed in " << l.where;
        EXPECT_EQ(named(QSet<QString>(l.listed).subtract(read)), "") << "listed in " << l.where << " but not read";
    }
    for (const QString& option : std::as_const(read)) {
        if (option.startsWith(QLatin1String("--"))) {
            EXPECT_TRUE(docs.contains("`" + option)) << option.toStdString() << " is not in docs/command-line.md";
        }
    }
}
