// The options of pradelux --export: what they hold, read from the
// arguments as GNU tools take them, and the PDF options given back to the
// jobs of --jobs.
#pragma once

#include "WindowChoices.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace pradelux {

// What the options given say.
struct ExportOptions
{
    QString output;
    QString extension;
    std::optional<bool> answer;
    bool noWait = false;
    QStringList paths;
    bool help = false;
    bool version = false;
    bool null = false;
    bool verbose = false;
    bool quiet = false; // the error output holds failures and the final message alone
    bool update = false;
    bool keepFolders = false;
    bool followLinks = false; // links to folders, while folders are scanned
    // What the PDFs hold and how they are made; without --isolate-rows, one
    // LibreOffice prints a folder's rows.
    PrintChoices choices = {.isolateRows = false};
    bool windowChoices = false; // the window's PDF choices under the options given
    QString subfoldersFrom;     // a job's: each row's folder below the output folder
    QString filesFrom;
    QString passwordFile;
    bool passwordsAfterRows = false; // a job's: its passwords follow its rows on the standard input
    // For presentations protected by a password, tried on each in turn.
    QStringList passwords;
    QString report;
    int share = 1; // --shard K/N: the K-th of N shares
    int shares = 1;
    int jobs = 1; // how many rows at once
    bool job = false;
    QString claims; // a job's: where the jobs of one run take their rows
};

// Reads the options; the texts for the user of what is wrong with them: the
// options themselves, and (in badValues) their values.
QStringList ParseOptions(const QStringList& arguments, ExportOptions& options, QStringList& badValues);

// The options that give these settings, for the jobs of --jobs.
QStringList PdfOptionsOf(const PdfSettings& pdf);

// The options --help lists, each by its long name ("--output"), and the
// short names as "-o".
QStringList ListedOptionNames();

} // namespace pradelux
