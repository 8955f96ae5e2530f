// The desktop shell: opening addresses and folders in the user's programs.
#pragma once

#include <QString>

namespace pradelux {

class Shell
{
public:
    virtual ~Shell() = default;
    // Both fail with a Failure when the desktop cannot open the target.
    virtual void openUrl(const QString& url) = 0;
    virtual void openFolder(const QString& path) = 0;
};

class DesktopShell : public Shell
{
public:
    void openUrl(const QString& url) override;
    void openFolder(const QString& path) override;
};

} // namespace pradelux
