// A shell that records what it was asked to open, and can be made to fail.
#pragma once

#include "Failure.h"
#include "Shell.h"

#include <QStringList>

namespace pradelux::test {

class FakeShell : public Shell
{
public:
    QStringList opened;
    bool fail = false;

    void openUrl(const QString& url) override
    {
        if (fail)
            throw Failure(failure::kFileNotFound, QStringLiteral("File not found: no URL opener"));
        opened << url;
    }
    void openFolder(const QString& path) override
    {
        if (fail)
            throw Failure(failure::kFileNotFound, QStringLiteral("File not found: no file manager"));
        opened << path;
    }
};

} // namespace pradelux::test
