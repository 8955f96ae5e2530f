// Loading pradelux-hidden.so and calling it.
#include "HiddenDocuments.h"

#include <QFile>

#include <dlfcn.h>

namespace pradelux::render::inside {

namespace {
void* g_module = nullptr;

QString lastError()
{
    const char* said = ::dlerror();
    return said ? QString::fromLocal8Bit(said) : QString();
}
} // namespace

QString HiddenDocuments::preload(const QString& module, const QString& programFolder)
{
    for (const char* library : {"/libuno_sal.so.3", "/libuno_cppu.so.3", "/libuno_cppuhelpergcc3.so.3"}) {
        if (!::dlopen(QFile::encodeName(programFolder + QLatin1String(library)).constData(), RTLD_NOW | RTLD_GLOBAL))
            return lastError();
    }
    g_module = ::dlopen(QFile::encodeName(module).constData(), RTLD_NOW);
    return g_module ? QString() : lastError();
}

std::unique_ptr<HiddenDocuments> HiddenDocuments::connect(const QString& programFolder, const QString& pipe)
{
    if (!g_module)
        return nullptr;
    using Connect = void* (*)(const char*, const char*);
    const auto connectTo = reinterpret_cast<Connect>(::dlsym(g_module, "pradelux_hidden_connect"));
    const auto print = reinterpret_cast<Print>(::dlsym(g_module, "pradelux_hidden_print"));
    const auto close = reinterpret_cast<Close>(::dlsym(g_module, "pradelux_hidden_close"));
    void* desktop = connectTo && print && close
                        ? connectTo(QFile::encodeName(programFolder).constData(), pipe.toUtf8().constData())
                        : nullptr;
    return desktop ? std::unique_ptr<HiddenDocuments>(new HiddenDocuments(desktop, print, close)) : nullptr;
}

HiddenDocuments::Result HiddenDocuments::print(const QString& presentation, const QString& pdf,
                                               const QByteArray& filterOptions, const QStringList& passwords,
                                               QList<boundary::StandIn>* standIns)
{
    QByteArray said(8192, '\0');
    QByteArray given;
    for (const QString& password : passwords) {
        if (!password.isEmpty())
            given += password.toUtf8() + '\0';
    }
    given += '\0';
    const auto result = static_cast<Result>(m_print(m_desktop, presentation.toUtf8().constData(),
                                                    pdf.toUtf8().constData(), filterOptions.constData(),
                                                    given.constData(), said.data(), static_cast<int>(said.size() - 1)));
    given.fill('\0');
    said.truncate(static_cast<qsizetype>(qstrlen(said.constData())));
    for (const QByteArray& line : said.split('\n')) {
        const QList<QByteArray> names = line.split('\t');
        if (names.size() != 2 || standIns->size() >= boundary::kMostStandIns)
            continue;
        const auto name = [](const QByteArray& text) {
            QString n = QString::fromUtf8(text).left(boundary::kStandInNameMax);
            n.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
            return n;
        };
        const boundary::StandIn standIn{name(names[0]), name(names[1])};
        if (!standIn.requested.isEmpty() && !standIn.printed.isEmpty() && !standIns->contains(standIn))
            standIns->append(standIn);
    }
    return result;
}

void HiddenDocuments::close()
{
    m_close(m_desktop);
}

} // namespace pradelux::render::inside
