// Which of the user's files the sandbox shows with a presentation (what code
// running as LibreOffice reaches is tried by the escape kit's end-to-end test).
#include "Sandbox.h"
#include "TempEnvironment.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace pradelux;

namespace {

// Which of a presentation's folder the sandbox shows.
TEST(SandboxTest, PresentationsInHomeRootOrSharedTemporaryFoldersAreShownAlone)
{
    test::TempConfig dir;
    const QString home = dir.path(QStringLiteral("home"));
    QDir().mkpath(home + "/talks");
    test::ScopedEnv homeEnv("HOME", QFile::encodeName(home));
    const struct
    {
        QString presentation;
        QString shown;
    } rows[] = {
        {home + "/talks/a.pptx", home + "/talks"},
        {home + "/a.pptx", home + "/a.pptx"},
        {dir.path("a.pptx"), dir.path("a.pptx")},
        {"/a.pptx", "/a.pptx"},
        {"/tmp/a.pptx", "/tmp/a.pptx"},
        {"/var/tmp/a.pptx", "/var/tmp/a.pptx"},
        {"/dev/shm/a.pptx", "/dev/shm/a.pptx"},
        {home + "/talks/../a.pptx", home + "/a.pptx"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(office::sandbox::ShownPath(row.presentation), QDir::cleanPath(row.shown))
            << row.presentation.toStdString();
}

} // namespace
