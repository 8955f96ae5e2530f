// Collapsing doubled separators, in both path styles.
#include "Paths.h"
#include "QtPrint.h"

#include <gtest/gtest.h>

using namespace pradelux;

TEST(CollapseBackslashes, WindowsExamplesAndTheirLinuxCounterparts)
{
    struct Case
    {
        const char* windows;
        const char* windowsResult;
        const char* posix;
        const char* posixResult;
    };
    const Case cases[] = {
        {"C:\\\\a.ppt", "C:\\a.ppt", "/home//a.ppt", "/home/a.ppt"},
        {"C:\\Talks\\\\\\a.ppt", "C:\\Talks\\\\a.ppt", "/Talks///a.ppt", "/Talks//a.ppt"},
        {"C:\\Talks\\\\\\\\a.ppt", "C:\\Talks\\\\a.ppt", "/Talks////a.ppt", "/Talks//a.ppt"},
        {"\\\\\\server\\share\\a.ppt", "\\\\server\\share\\a.ppt", "///srv/share/a.ppt", "/srv/share/a.ppt"},
        {"\\Talks\\a.ppt", "\\\\Talks\\a.ppt", "/Talks/a.ppt", "/Talks/a.ppt"},
        {"\\", "\\\\", "/", "/"},
        {"", "", "", ""},
        {"C:\\Talks\\a.ppt", "C:\\Talks\\a.ppt", "Talks/a b.ppt", "Talks/a b.ppt"},
        {"D:\\\\", "D:\\", "//", "/"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CollapseBackslashes(QString::fromUtf8(c.windows), PathStyle::Windows),
                  QString::fromUtf8(c.windowsResult))
            << c.windows;
        EXPECT_EQ(CollapseBackslashes(QString::fromUtf8(c.posix), PathStyle::Posix), QString::fromUtf8(c.posixResult))
            << c.posix;
    }
}
