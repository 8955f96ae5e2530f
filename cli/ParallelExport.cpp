// --jobs N.
#include "ParallelExport.h"

#include "ChildProcess.h"
#include "ClaimPlan.h"
#include "CommandLine.h"
#include "ConsoleHost.h"
#include "Dialogs.h"
#include "ExportRun.h"
#include "Files.h"
#include "Interrupts.h"
#include "LibreOffice.h"
#include "ProfileTemplate.h"
#include "RunFolder.h"
#include "TerminalText.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <memory>
#include <unistd.h>

namespace pradelux {

namespace {

struct Job
{
    QString home;
    QProcess process;
    QByteArray pending; // what came on its standard output, not yet a whole path
    qint64 reportRead = 0;
};

void copyFolder(const QString& from, const QString& to)
{
    if (from.isEmpty() || !QFileInfo(from).isDir())
        return;
    QDirIterator it(from, QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString target = to + file.mid(from.size());
        QDir().mkpath(QFileInfo(target).path());
        QFile::copy(file, target);
    }
}

} // namespace

int RunInJobs(const JobsRun& run, QTextStream& out, QTextStream& err)
{
    // Every job is given every row and takes the next one no other job has
    // taken, so that a job that finished its rows sooner takes more of them.
    const ClaimPlan plan = PlanClaims(run.rows, run.subfolders, run.jobs);
    // The jobs' homes and their claims, gone with the run however it ends.
    const RunFolder folder;
    const QString claims = folder.make(QStringLiteral("claims"));
    if (claims.isEmpty()) {
        err << "pradelux: the temporary folder " << QDir::tempPath() << " cannot be written.\n";
        return 2;
    }
    // Which unit each row belongs to, for every job alike: a job that
    // claims a unit takes all its rows.
    if (!WritePairs(claims + QLatin1Char('/') + QLatin1String(kUnitsFile), plan.units)) {
        err << "pradelux: the temporary folder " << QDir::tempPath() << " cannot be written.\n";
        return 2;
    }
    // The rows' folders below the output folder, for every job alike.
    QStringList passOn = run.passOn;
    if (!run.subfolders.isEmpty()) {
        const QString pairs = folder.path() + QStringLiteral("/subfolders");
        WritePairs(pairs, run.subfolders);
        passOn << QStringLiteral("--subfolders-from") << pairs;
    }
    std::vector<std::unique_ptr<Job>> jobs;
    for (int j = 0; j < run.jobs && j < run.rows.size(); ++j) {
        jobs.push_back(std::make_unique<Job>());
        jobs.back()->home = folder.make(QStringLiteral("job-%1").arg(j + 1));
    }

    QFile report(run.report);
    if (!run.report.isEmpty() && !report.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        err << "pradelux: " << ReportFileError(run.report, report.errorString()) << '\n';
        return 2;
    }
    // The profile's template is made once, here, not once a job: each job
    // gets a copy.
    QString unmade;
    if (const QString soffice = render::boundary::FindSoffice(); !soffice.isEmpty())
        render::boundary::EnsureProfileTemplate(run.renderProfile, soffice,
                                                AppFolder() + QStringLiteral("/pradelux-render"), &unmade);
    for (auto& job : jobs) {
        const QString base = job->home;
        for (const char* folder : {"/config/Veltrande", "/runtime", "/cache", "/tmp"})
            QDir().mkpath(base + QLatin1String(folder));
        QFile::setPermissions(base + QStringLiteral("/runtime"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QFile::copy(run.printersFile, base + QStringLiteral("/config/Veltrande/printers.json"));
        copyFolder(run.renderProfile, base + QStringLiteral("/cache/pradelux-office/profile-template"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), base + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), base + QStringLiteral("/runtime"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), base + QStringLiteral("/cache"));
        // Its temporary files (its bus's socket among them) go with this
        // run's folder, also when a second Ctrl+C kills it.
        env.insert(QStringLiteral("TMPDIR"), base + QStringLiteral("/tmp"));
        // A session bus of its own: its own presentation application.
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        job->process.setProcessEnvironment(env);
        // A session of its own: Ctrl+C reaches this program, which passes it
        // on once, so that each job ends after its row in hand; a job ends
        // with this program whatever ends it.
        job->process.setChildProcessModifier(DetachAndEndWithParent);
        job->process.start(QCoreApplication::applicationFilePath(),
                           QStringList{QStringLiteral("--export"), QStringLiteral("--job"), QStringLiteral("--null"),
                                       QStringLiteral("--files-from"), QStringLiteral("-"), QStringLiteral("--output"),
                                       run.output, QStringLiteral("--report"), base + QStringLiteral("/report.jsonl"),
                                       QStringLiteral("--claims"), claims} +
                               passOn +
                               (run.passwords.isEmpty() ? QStringList() : QStringList{"--passwords-after-rows"}));
        for (const QString& row : plan.order)
            job->process.write(QFile::encodeName(row) + '\0');
        // An empty entry, then the passwords.
        if (!run.passwords.isEmpty()) {
            job->process.write(QByteArray(1, '\0'));
            for (const QString& password : run.passwords)
                job->process.write(password.toUtf8() + '\0');
        }
        job->process.closeWriteChannel();
    }

    // Stopped at once (a second Ctrl+C), the jobs end first and then the
    // run's folder goes: nothing of the run is left in the temporary folder.
    QList<qint64> pids;
    for (const auto& job : jobs)
        pids << job->process.processId();
    const QString runFolder = folder.path();
    OnEndingAtOnce([pids, runFolder] {
        for (const qint64 pid : pids) {
            const ProcessHandle job(pid);
            job.kill(SIGKILL);
            job.waitGone(3000);
        }
        // What the jobs started ends with them a moment later, and may
        // still write in the folder as it goes.
        QElapsedTimer clock;
        clock.start();
        while (!QDir(runFolder).removeRecursively() && clock.elapsed() < 3000)
            QThread::msleep(50);
    });
    struct Forget
    {
        ~Forget() { OnEndingAtOnce({}); }
    } forget;

    // One stream out of many: paths as they come, failure blocks whole, a
    // progress line for each row that ended, and one final message.
    int ended = 0;
    QStringList failed;
    QStringList replaced;
    QStringList reflowed;
    QStringList lacking;
    int status = 0;
    const auto relay = [&](Job& job) {
        job.pending += job.process.readAllStandardOutput();
        for (qsizetype end; (end = job.pending.indexOf('\0')) >= 0;) {
            const QString path = QFile::decodeName(job.pending.left(end));
            out << (run.outIsTerminal ? TerminalName(path) : path) << run.terminator;
            job.pending.remove(0, end + 1);
        }
        out.flush();
        if (out.status() != QTextStream::Ok)
            StopForClosedOutput();
        const QByteArray said = job.process.readAllStandardError();
        if (!said.isEmpty()) {
            err << QString::fromUtf8(said);
            err.flush();
        }
        QFile lines(job.home + QStringLiteral("/report.jsonl"));
        if (!lines.open(QIODevice::ReadOnly) || !lines.seek(job.reportRead))
            return;
        const QByteArray fresh = lines.readAll();
        const qsizetype whole = fresh.lastIndexOf('\n') + 1;
        job.reportRead += whole;
        for (const QByteArray& line : fresh.left(whole).split('\n')) {
            if (line.isEmpty())
                continue;
            if (report.isOpen())
                report.write(line + '\n');
            const QJsonObject row = QJsonDocument::fromJson(line).object();
            const QString presentation = row.value(QStringLiteral("presentation")).toString();
            const QString state = row.value(QStringLiteral("status")).toString();
            // A row skipped without an error was up to date (--update).
            if (state == QLatin1String("failed") ||
                (state == QLatin1String("skipped") && row.contains(QStringLiteral("error"))))
                failed << presentation;
            else if (state == QLatin1String("replaced"))
                replaced << presentation;
            for (const QJsonValue& font : row.value(QStringLiteral("fonts")).toArray()) {
                if (state == QLatin1String("written") &&
                    !font.toObject().value(QStringLiteral("sameWidths")).toBool()) {
                    reflowed << presentation;
                    break;
                }
            }
            if (state == QLatin1String("written") && row.contains(QStringLiteral("lacking")))
                lacking << presentation;
            ++ended;
            if (!run.quiet) {
                err << ended << '/' << run.rows.size() << ' ' << state << ": " << FileNameOf(presentation) << '\n';
                err.flush();
            }
        }
    };
    ArmInterrupts(true);
    bool passedOn = false;
    for (bool running = true; running;) {
        running = false;
        if (Interrupted() && !passedOn) {
            passedOn = true;
            for (auto& job : jobs)
                if (job->process.state() != QProcess::NotRunning)
                    ::kill(static_cast<pid_t>(job->process.processId()), SIGINT);
        }
        for (auto& job : jobs) {
            job->process.waitForReadyRead(50);
            relay(*job);
            if (job->process.state() != QProcess::NotRunning) {
                running = true;
            } else if (job->process.exitStatus() != QProcess::NormalExit || job->process.exitCode() > 1) {
                status = qMax(status, job->process.exitStatus() == QProcess::NormalExit ? job->process.exitCode() : 1);
            }
        }
    }
    HoldWhileEndingAtOnce();
    if (passedOn) {
        err << (OutputClosed() ? OutputClosedText(ended, run.rows.size()) : InterruptedText(ended, run.rows.size()))
            << '\n';
        err.flush();
        return OutputClosed() ? exitcode::kOutputClosed : exitcode::kInterrupted;
    }
    if (status > 1)
        return status;
    err << DisplayText(DoneMessage(static_cast<int>(run.rows.size()), failed, replaced, reflowed, lacking)) << '\n';
    if (!replaced.isEmpty() && !run.passOn.contains(QStringLiteral("--keep-folders")))
        err << SameNamesHint << '\n';
    err.flush();
    return failed.isEmpty() && replaced.isEmpty() && ended == run.rows.size() ? 0 : 1;
}

} // namespace pradelux
