// The export from a terminal or a script: pradelux --export. The rows go
// through the same export run as the window's, with the dialogs on the
// error output and the PDFs written listed on the standard output.
#pragma once

#include "Automation.h"

#include <QString>
#include <QStringList>
#include <QTextStream>
#include <functional>

namespace pradelux {

class Registry;
class SettingsStore;
class TerminalDevice;

struct CommandLineServices
{
    Automation& automation;
    Registry& registry;
    SettingsStore& settings;
    QTextStream& out;
    QTextStream& err;
    // A terminal gets a progress bar on one line; anything else a line a row.
    bool errIsTerminal = false;
    // The output folder when neither --output nor a stored one is there.
    std::function<QString()> defaultOutputFolder;
    // The lock that keeps export runs apart.
    QString lockPath;
    // The window's start-up checks: what is missing and how to install it;
    // empty text when nothing is.
    std::function<QString()> prerequisites;
    // The user's printer list, which each job of --jobs gets a copy of.
    QString printersFile;
    // The presentation application the checks started, held so that it
    // serves the rows instead of ending and starting again; null when one
    // ran already, which is another program's and is asked about.
    ObjectRef startedApplication;
    // The error output's terminal, which shows names' control characters
    // as escapes; null when it is none.
    TerminalDevice* errTerminal = nullptr;
    // Paths written to a terminal are shown the same way.
    bool outIsTerminal = false;
};

namespace exitcode {
constexpr int kAllWritten = 0;
constexpr int kSomeFailed = 1;
constexpr int kUsage = 2;
constexpr int kNotStarted = 3;
constexpr int kInterrupted = 130;  // as a shell reports a program ended by Ctrl+C
constexpr int kOutputClosed = 141; // as a shell reports a program ended by SIGPIPE
} // namespace exitcode

// True when the arguments (without the program's name) ask for the terminal
// instead of the window: --export, --help or --version.
bool WantsCommandLine(const QStringList& arguments);

QString CommandLineUsage();

// Runs the export the arguments describe and returns the exit status.
int RunCommandLine(const QStringList& arguments, CommandLineServices& services);

} // namespace pradelux
