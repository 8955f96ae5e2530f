// The scrambled sample record: any text comes back, whatever its letters or length.
#include "SampleRecord.h"
#include "TempEnvironment.h"

#include <gtest/gtest.h>

using namespace pradelux;

TEST(SampleRecord, EveryTextRoundTripsAndReadsDifferentlyWhenScrambled)
{
    QString everyCode;
    for (int c = 1; c <= 255; ++c)
        everyCode += QChar(c);
    QString long100k;
    while (long100k.size() < 100000)
        long100k += QStringLiteral("/opt/pradelux/Samples/Präsentation 日本 %1.pptx|").arg(long100k.size());
    const QStringList texts = {QString(),
                               QStringLiteral("/a.pptx|/b.ppt"),
                               QStringLiteral("/home/zoë/Vorträge/Übersicht 日本語 🎉.odp"),
                               everyCode,
                               long100k,
                               QString(32767, QLatin1Char('x'))};
    for (const QString& text : texts) {
        const QString scrambled = ScrambleText(text, kScrambleKey);
        if (!text.isEmpty()) {
            EXPECT_NE(scrambled, text);
        }
        for (QChar c : scrambled)
            ASSERT_TRUE(c.unicode() >= 1 && c.unicode() <= 255);
        EXPECT_EQ(UnscrambleText(scrambled, kScrambleKey), text) << text.left(40).toStdString();
    }
    // Each byte moves by its key letter, wrapping past 255 to 1.
    EXPECT_EQ(ScrambleText(QStringLiteral("a"), kScrambleKey), QString(QChar(97 + 'm')));
    // "ÿ" is the UTF-8 bytes C3 BF; with the key letter "a" (61): C3+61 = 124 - FF = 25, BF+61 = 120 - FF = 21.
    EXPECT_EQ(ScrambleText(QString(QChar(0xFF)), QStringLiteral("aaaaaaaa")).toLatin1(), QByteArray::fromHex("2521"));
}
