// LibreOffice's own component interface inside pradelux-render: a
// presentation opened hidden, as LibreOffice's converter opens it, and
// stored as a PDF, in a LibreOffice of its own process reached over its
// remote bridge. LibreOfficeKit opens every document with a view, and in
// its mode every page a PDF export draws is announced to all of a deck's
// shapes; opened hidden in a plain LibreOffice, the same presentation loads
// and prints faster, a large one in a third of the time.
//
// The interface lives in a module of its own, pradelux-hidden.so, that uses
// LibreOffice's published interface libraries. Those must be the ones from
// LibreOffice's program folder, which finds its language bridges beside
// them, so they are loaded first, by their full paths, for the module to use.
#pragma once

#include "Protocol.h"

#include <QByteArray>
#include <QString>
#include <memory>

namespace pradelux::render::inside {

class HiddenDocuments
{
public:
    enum class Result {
        Printed,
        NotLoaded,        // LibreOffice could not open it
        NotAPresentation, // it opened as another kind of document
        NotSaved,         // the PDF could not be made
        WrongPassword,    // none of the passwords it was given opened it
    };

    // Before the sandbox, while both folders can be seen: loads the module
    // and the libraries it needs. Returns why not, or nothing.
    static QString preload(const QString& module, const QString& programFolder);
    // The LibreOffice from programFolder that accepts connections on the
    // named pipe. Null when the module was not loaded, or while that
    // LibreOffice does not answer yet.
    static std::unique_ptr<HiddenDocuments> connect(const QString& programFolder, const QString& pipe);

    // The presentation stays open until close(), so that the answer can go
    // out before LibreOffice takes it down.
    // filterOptions: the PDF filter's options, as PdfFilterOptions gives them.
    // A presentation without a title gets its file's name as its PDF's.
    // standIns: the fonts it asked for that LibreOffice laid out in others
    // (the first kMostStandIns, their names cut to kStandInNameMax).
    // passwords: for a presentation protected by a password, tried in turn.
    Result print(const QString& presentation, const QString& pdf, const QByteArray& filterOptions,
                 const QStringList& passwords, QList<boundary::StandIn>* standIns);
    void close();

private:
    // The stand-ins come back in text, a line "requested\tprinted" each.
    // The passwords come NUL-terminated one after another, an empty one last.
    using Print = int (*)(void*, const char*, const char*, const char*, const char*, char*, int);
    using Close = void (*)(void*);
    HiddenDocuments(void* desktop, Print print, Close close) : m_desktop(desktop), m_print(print), m_close(close) {}
    void* m_desktop;
    Print m_print;
    Close m_close;
};

} // namespace pradelux::render::inside
