// The shared test decks, made once before the groups of end-to-end tests
// run at once, so that no two of them make the same deck at the same time;
// each is what the tests take it for: three slides, the second hidden, in
// every format, and the protected ones protected.
#include "Decks.h"

#include "PresentationFile.h"

#include <QFile>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {
pradelux::office::FileKind checked(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    const pradelux::office::FileKind kind =
        pradelux::office::InspectPresentationApart(fd, pradelux::office::UnpackLimit(), 60000);
    if (fd >= 0)
        ::close(fd);
    return kind;
}
} // namespace

TEST(Decks, AreMadeOnceBeforeTheGroupsRunEachAsTheTestsTakeIt)
{
    using pradelux::office::FileKind;
    for (const char* suffix : {"fodp", "odp", "pptx", "ppt"}) {
        const FileKind kind = checked(pradelux::test::deck(QLatin1String(suffix)));
        EXPECT_EQ(kind.verdict, FileKind::Presentation) << suffix;
        EXPECT_EQ(kind.slides, 3) << suffix << ": the hidden slide is counted too";
        // So a PDF's text is read only for a letter no font has.
        EXPECT_TRUE(kind.letters) << suffix << ": the letters it prints are known";
    }
    for (const char* suffix : {"odp", "pptx"})
        EXPECT_EQ(checked(pradelux::test::protectedDeck(QLatin1String(suffix))).verdict, FileKind::Protected) << suffix;
}
