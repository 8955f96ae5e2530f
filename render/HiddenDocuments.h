// LibreOffice's own component interface inside pradelux-render: a
// presentation opened hidden, as LibreOffice's converter opens it, and
// stored as a PDF. LibreOfficeKit opens every document with a view; opened
// hidden, the same presentation loads and prints faster.
//
// The interface lives in a module of its own, pradelux-hidden.so, linked
// with LibreOffice's interface libraries. Those must be the ones from
// LibreOffice's program folder, which finds its language bridges beside
// them, so the module is loaded after them, by their full paths.
#pragma once

#include <QString>
#include <memory>

namespace pradelux::office {

class HiddenDocuments
{
public:
    enum class Result {
        Printed,
        NotLoaded,        // LibreOffice could not open it
        NotAPresentation, // it opened as another kind of document
        NotSaved,         // the PDF could not be made
    };

    // Before the sandbox, while both folders can be seen: loads the module
    // and the libraries it needs. Returns why not, or nothing.
    static QString preload(const QString& module, const QString& programFolder);
    // Once LibreOfficeKit has started LibreOffice from programFolder in this
    // process. Null when the module was not loaded or that LibreOffice does
    // not offer its interface; the kit's own documentLoad serves then.
    static std::unique_ptr<HiddenDocuments> attach(const QString& programFolder);

    // The presentation stays open until close(), so that the answer can go
    // out before LibreOffice takes it down.
    Result print(const QString& presentation, const QString& pdf, bool hiddenSlides, bool notesPages);
    void close();

private:
    using Print = int (*)(void*, const char*, const char*, int, int);
    using Close = void (*)(void*);
    HiddenDocuments(void* desktop, Print print, Close close) : m_desktop(desktop), m_print(print), m_close(close) {}
    void* m_desktop;
    Print m_print;
    Close m_close;
};

} // namespace pradelux::office
