// Renders a presentation to PDF with LibreOffice, in a profile of our own so
// a LibreOffice the user has open is never touched.
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <functional>

#include "PdfSettings.h"
#include "TakenBack.h"

namespace pradelux::office {

struct RenderRequest
{
    QString presentation;
    bool hiddenSlides = false;
    enum class Pages { Slides, NotesPages, SlidesThenNotesPages };
    Pages pages = Pages::Slides;
    // The slides printed, numbered as in the presentation, hidden ones
    // included: "1-3,7"; empty: every one.
    QString slides = {};
    // Printed by a LibreOffice that printed nothing before, and that prints
    // nothing after.
    bool isolated = false;
    PdfSettings pdf = {};
    // The local files it links to, relative to its folder: shown with it.
    QStringList links = {};
};

// LibreOffice's PDF filter options for the request, as its --convert-to
// takes them after "pdf:impress_pdf_Export:" (JSON: name → type and value).
QString PdfFilterOptions(const RenderRequest& request);

// pradelux-render --run-sandboxed's status for a presentation that cannot be
// shown to LibreOffice (no regular file, or gone).
inline constexpr int kNotShownStatus = 7;

// How often, in milliseconds, a rendering's time and memory are looked at.
inline constexpr int kWatchMs = 100;

// What the presentation application prints with: a presentation in, the
// path of a whole PDF with pages out, or a Failure that says why not.
class PdfRenderer
{
public:
    virtual ~PdfRenderer() = default;
    // Renders into workFolder and returns the PDF.
    virtual RenderedPdf render(const RenderRequest& request, const QString& workFolder) const = 0;

    // PRADELUX_RENDER_MEMORY_LIMIT (MiB) when set; otherwise half of the
    // machine's memory or of the run's own limit (its cgroup's, as a Slurm
    // task, a systemd unit or a container sets it), whichever is smaller, at
    // most 4 GiB.
    static qint64 DefaultMemoryLimit();
    // A rendering that needs more memory than this is stopped.
    void setMemoryLimit(qint64 bytes) { m_memoryLimit = bytes; }
    qint64 memoryLimit() const { return m_memoryLimit; }
    // Asked while a rendering is waited for: true when no one is left to
    // take its PDF (the application's session bus has gone), so the wait
    // ends at once instead of at its bound.
    void setAbandoned(std::function<bool()> abandoned) { m_abandoned = std::move(abandoned); }
    bool abandoned() const { return m_abandoned && m_abandoned(); }

    // Why a rendering that is waited for must be stopped now, if at all.
    enum class Stop { None, Memory, PdfSize, Abandoned, Time };
    // renderer: the process whose tree is the rendering; written: the bytes
    // of PDF it wrote so far.
    Stop mustStop(qint64 renderer, qint64 written) const;
    // The failure that says why a rendering was stopped.
    [[noreturn]] void throwStopped(Stop why, const QString& presentation, int timeoutMs) const;

private:
    qint64 m_memoryLimit = DefaultMemoryLimit();
    std::function<bool()> m_abandoned;
};

// The resident memory of pid and every process below it: a renderer and
// whatever it started, its sandbox included.
qint64 TreeMemory(qint64 pid);
// Kills pid and every process below it, and waits until they are gone (and
// the memory file systems only they held with them).
void KillTree(qint64 pid);
// The smallest memory limit of this process's cgroup and the groups that
// hold it (memory.max and memory.high, or version 1's memory.limit_in_bytes);
// 0 when none is set.
qint64 CgroupMemoryLimit();
// What the machine can give without swapping (MemAvailable); 0 when unknown.
qint64 AvailableMemory();
// "4 GiB", "512 MiB".
QString MemoryText(qint64 bytes);

// How large a PDF may grow: PRADELUX_RENDER_PDF_LIMIT (MiB), or 2 GiB.
qint64 PdfSizeLimit();
// The failures every renderer reports in the same words.
[[noreturn]] void ThrowCrashed(const QString& presentation, const QString& how);
[[noreturn]] void ThrowTimedOut(const QString& presentation, int timeoutMs);
[[noreturn]] void ThrowUnreadable(const QString& presentation);
[[noreturn]] void ThrowTooMuchMemory(const QString& presentation, qint64 limit);
[[noreturn]] void ThrowTooLarge(const QString& presentation, qint64 limit);
[[noreturn]] void ThrowAbandoned(const QString& presentation);

// Renders with a LibreOffice started afresh for every presentation
// (soffice --convert-to).
class Renderer : public PdfRenderer
{
public:
    // soffice: the LibreOffice executable; profileTemplate: the template of
    // LibreOffice's profile (made when missing); timeoutMs: how long one rendering may take before
    // LibreOffice is stopped; sandbox: pradelux-render, which starts
    // LibreOffice inside the sandbox.
    Renderer(QString soffice, QString profileTemplate, int timeoutMs, QString sandbox);

    // Renders into workFolder and returns the PDF. Throws a Failure with a
    // description for the user when no PDF with pages comes out.
    RenderedPdf render(const RenderRequest& request, const QString& workFolder) const override;

    // The LibreOffice executable, or empty text when none is installed.
    static QString findSoffice();
    // What to tell when findSoffice finds none: what is missing and how to install it.
    static QString missingSofficeText();

private:
    QString m_soffice;
    QString m_profile;
    int m_timeoutMs;
    QString m_sandbox;
};

} // namespace pradelux::office
