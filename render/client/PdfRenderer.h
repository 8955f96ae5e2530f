// What every renderer of the presentation application shares: a
// presentation in, the path of a whole PDF with pages out, or a Failure that
// says why not; and the watch over a rendering's time, memory and PDF.
#pragma once

#include "PdfSettings.h"
#include "TakenBack.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <optional>

namespace pradelux::render::client {

// A presentation to print, and how.
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
    // For a presentation protected by a password: those to open it with.
    // They go to the renderer and LibreOffice's load, and nowhere else.
    QStringList passwords = {};
    // The letters beyond ASCII its file holds, when its check read them all:
    // the page count reads the PDF's text only when one is in no font.
    std::optional<QList<char32_t>> letters = std::nullopt;

    bool operator==(const RenderRequest&) const = default;
};

// LibreOffice's PDF filter data for the request: each option's name, with
// its type and value.
QJsonObject PdfFilterData(const RenderRequest& request);
// The same as text, as LibreOffice's --convert-to takes it after
// "pdf:impress_pdf_Export:".
QString PdfFilterOptions(const RenderRequest& request);

// How often, in milliseconds, a rendering's time and memory are looked at.
inline constexpr int kWatchMs = 100;

// What the presentation application prints with.
class PdfRenderer
{
public:
    virtual ~PdfRenderer() = default;
    // Renders into workFolder and returns the PDF.
    virtual RenderedPdf render(const RenderRequest& request, const QString& workFolder) const = 0;
    // Whether it can open a presentation protected by a password.
    virtual bool takesPasswords() const { return false; }

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

} // namespace pradelux::render::client
