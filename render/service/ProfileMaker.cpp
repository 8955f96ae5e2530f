// The profile's template, filled by LibreOffice in a sandbox that may write
// the template alone.
#include "Files.h"
#include "LibreOffice.h"
#include "ProcessTree.h"
#include "Root.h"
#include "Service.h"

#include <QFile>
#include <QUrl>

#include <cstdio>

namespace pradelux::render::service {

namespace {
// A presentation of one empty slide, LibreOffice's flat format.
const char kBlankPresentation[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document "
    "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
    "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" office:version=\"1.2\" "
    "office:mimetype=\"application/vnd.oasis.opendocument.presentation\"><office:body><office:presentation>"
    "<draw:page draw:name=\"1\"/></office:presentation></office:body></office:document>\n";
// How long LibreOffice may take to fill a template.
constexpr int kMakeMs = 120000;
} // namespace

int RunProfileMaker(const QString& folder, const QString& soffice)
{
    // LibreOffice does much of its first start's work (its bundled
    // extensions, a test of its drawing) only once it prints something: it
    // prints a blank presentation of ours, so that no start from the
    // template does that again.
    const QString blank = folder + QStringLiteral("/pradelux-blank.fodp");
    const QString printed = folder + QStringLiteral("/pradelux-blank");
    QFile file(blank);
    if (!file.open(QIODevice::WriteOnly) || file.write(kBlankPresentation) != qint64(sizeof kBlankPresentation) - 1)
        return 6;
    file.close();
    QString why;
    const QString ours = ProgramFolderOf(QStringLiteral("/proc/self/exe"));
    std::unique_ptr<Root> root = Root::make(boundary::ProfileMakerPlan(folder, {ours, ProgramFolderOf(soffice)}), &why);
    const QStringList command = QStringList{ours + QStringLiteral("/pradelux-inside"), QStringLiteral("--run"),
                                            QStringLiteral("--"), boundary::OfficeProgram(soffice)} +
                                boundary::StartFlags(folder) +
                                QStringList{QStringLiteral("--convert-to"), QStringLiteral("pdf"),
                                            QStringLiteral("--outdir"), printed, QUrl::fromLocalFile(blank).toString()};
    const pid_t pid = root ? root->start(command, -1, &why) : -1;
    if (pid < 0) {
        std::fprintf(stderr, "pradelux-render: LibreOffice cannot be run safely here: %s\n",
                     why.toLocal8Bit().constData());
        return 5;
    }
    const int status = WaitForExit(pid, kMakeMs);
    QFile::remove(blank);
    RemoveTree(printed);
    return status < 0 ? 128 : status;
}

} // namespace pradelux::render::service
