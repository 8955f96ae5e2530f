// pradelux-hidden.so: a presentation opened hidden through LibreOffice's
// component interface, in a LibreOffice reached over its remote bridge.
// pradelux-render loads it after LibreOffice's own interface libraries, so
// that it shares them; its interface is plain C.
#include "HiddenDocuments.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QUrl>

#include <com/sun/star/awt/Toolkit.hpp>
#include <com/sun/star/awt/XFontMappingUse.hpp>
#include <com/sun/star/awt/XFontMappingUseItem.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/document/XDocumentProperties.hpp>
#include <com/sun/star/document/XDocumentPropertiesSupplier.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <com/sun/star/util/XCloseable.hpp>

#include <cppuhelper/bootstrap.hxx>
#include <rtl/bootstrap.hxx>

#include <cstring>
#include <memory>

namespace pradelux::render::inside {

namespace uno = com::sun::star::uno;
namespace awt = com::sun::star::awt;
namespace beans = com::sun::star::beans;
namespace frame = com::sun::star::frame;
namespace lang = com::sun::star::lang;
namespace util = com::sun::star::util;
namespace document = com::sun::star::document;

namespace {
rtl::OUString toOUString(const QString& text)
{
    return rtl::OUString(reinterpret_cast<const sal_Unicode*>(text.utf16()), static_cast<sal_Int32>(text.size()));
}

beans::PropertyValue property(const char* name, const uno::Any& value)
{
    beans::PropertyValue p;
    p.Name = rtl::OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

// The PDF filter's options, from the JSON that LibreOffice's --convert-to
// takes (name → type and value).
uno::Sequence<beans::PropertyValue> filterData(const char* json)
{
    const QJsonObject options = QJsonDocument::fromJson(QByteArray(json)).object();
    uno::Sequence<beans::PropertyValue> data(static_cast<sal_Int32>(options.size()));
    sal_Int32 at = 0;
    for (auto it = options.constBegin(); it != options.constEnd(); ++it) {
        const QJsonObject option = it.value().toObject();
        const QString type = option.value(QStringLiteral("type")).toString();
        const QString value = option.value(QStringLiteral("value")).toString();
        uno::Any any;
        if (type == QLatin1String("boolean"))
            any <<= value == QLatin1String("true");
        else if (type == QLatin1String("long"))
            any <<= static_cast<sal_Int32>(value.toInt());
        else
            any <<= toOUString(value);
        data[at].Name = toOUString(it.key());
        data[at++].Value = any;
    }
    return data;
}

rtl::OUString fileUrl(const QString& path)
{
    return toOUString(QString::fromLatin1(QUrl::fromLocalFile(path).toEncoded()));
}

// Closes the document, whatever happens while it is open.
class OpenDocument
{
public:
    explicit OpenDocument(uno::Reference<lang::XComponent> document) : m_document(std::move(document)) {}
    ~OpenDocument()
    {
        try {
            uno::Reference<util::XCloseable> closeable(m_document, uno::UNO_QUERY);
            if (closeable.is())
                closeable->close(true);
            else if (m_document.is())
                m_document->dispose();
        } catch (const uno::Exception&) {
            // A document that will not close is LibreOffice's to keep until
            // the renderer makes way for a fresh one.
        }
    }
    OpenDocument(const OpenDocument&) = delete;
    OpenDocument& operator=(const OpenDocument&) = delete;
    const uno::Reference<lang::XComponent>& get() const { return m_document; }

private:
    uno::Reference<lang::XComponent> m_document;
};

using Result = HiddenDocuments::Result;

struct Desktop
{
    uno::Reference<frame::XDesktop2> desktop;
    // LibreOffice's record of the fonts it laid text out in (since 7.3);
    // null where it keeps none.
    uno::Reference<awt::XFontMappingUse> fonts;
    // The presentation printed last, closed once its answer has gone out.
    std::unique_ptr<OpenDocument> last;
};

QString familyOf(const rtl::OUString& font)
{
    const QString name = QString::fromUtf16(reinterpret_cast<const char16_t*>(font.getStr()), font.getLength());
    return name.section(QLatin1Char('/'), 0, 0);
}

// What LibreOffice recorded while it laid out the presentation: each font
// asked for whose text it laid out in another, as "requested\tprinted"
// lines. The lists of fonts its own interface asks for are no deck's.
QByteArray standInsOf(const uno::Sequence<awt::XFontMappingUseItem>& used)
{
    QByteArray out;
    for (const awt::XFontMappingUseItem& item : used) {
        const QString requested = familyOf(item.originalFont);
        if (requested.isEmpty() || requested.contains(QLatin1Char(';')) || item.usedFonts.getLength() == 0)
            continue;
        const QString printed = familyOf(item.usedFonts[0]);
        if (printed.isEmpty() || printed.compare(requested, Qt::CaseInsensitive) == 0)
            continue;
        const QByteArray line = requested.toUtf8() + '\t' + printed.toUtf8() + '\n';
        if (!out.contains('\n' + line) && !out.startsWith(line))
            out += line;
    }
    return out;
}

// Records which fonts LibreOffice lays text out in for as long as it lives.
class FontTracking
{
public:
    explicit FontTracking(const uno::Reference<awt::XFontMappingUse>& fonts) : m_fonts(fonts)
    {
        try {
            if (m_fonts.is())
                m_fonts->startTrackingFontMappingUse();
        } catch (const uno::Exception&) {
            m_fonts.clear();
        }
    }
    ~FontTracking() { finish(); }
    FontTracking(const FontTracking&) = delete;
    FontTracking& operator=(const FontTracking&) = delete;
    QByteArray finish()
    {
        QByteArray standIns;
        try {
            if (m_fonts.is())
                standIns = standInsOf(m_fonts->finishTrackingFontMappingUse());
        } catch (const uno::Exception&) {
        }
        m_fonts.clear();
        return standIns;
    }

private:
    uno::Reference<awt::XFontMappingUse> m_fonts;
};

// passwords: NUL-terminated one after another, an empty one last; for a
// presentation protected by a password, each is tried in turn.
Result print(Desktop& desktop, const QString& presentation, const QString& pdf, const char* options,
             const char* passwords, QByteArray* standIns)
{
    desktop.last.reset();
    FontTracking tracking(desktop.fonts);
    // Read-only, no macro, no link brought up to date, no questions: there
    // is nobody to answer them.
    uno::Sequence<beans::PropertyValue> load(5);
    load[0] = property("Hidden", uno::Any(true));
    load[1] = property("ReadOnly", uno::Any(true));
    load[2] = property("MacroExecutionMode", uno::Any(document::MacroExecMode::NEVER_EXECUTE));
    load[3] = property("UpdateDocMode", uno::Any(document::UpdateDocMode::NO_UPDATE));
    load[4] = property("Silent", uno::Any(true));
    const bool protectedByPassword = *passwords != '\0';
    uno::Reference<lang::XComponent> loaded;
    // Without a password it loads once; with passwords, once for each
    // until one opens it.
    for (const char* password = passwords; !loaded.is() && (password == passwords || *password);
         password += std::strlen(password) + 1) {
        uno::Sequence<beans::PropertyValue> given(load);
        if (protectedByPassword) {
            given.realloc(6);
            given[5] = property("Password", uno::Any(toOUString(QString::fromUtf8(password))));
        }
        try {
            loaded = desktop.desktop->loadComponentFromURL(fileUrl(presentation), "_blank", 0, given);
        } catch (const uno::Exception&) {
        }
        if (!protectedByPassword)
            break;
    }
    if (!loaded.is())
        return protectedByPassword ? Result::WrongPassword : Result::NotLoaded;
    desktop.last = std::make_unique<OpenDocument>(loaded);
    const OpenDocument& document = *desktop.last;
    try {
        const uno::Reference<lang::XServiceInfo> info(document.get(), uno::UNO_QUERY);
        if (!info.is() || !info->supportsService("com.sun.star.presentation.PresentationDocument"))
            return Result::NotAPresentation;
        // A screen reader announces the PDF's title: a presentation without
        // one of its own gets its file's name, in the copy that is open.
        const uno::Reference<document::XDocumentPropertiesSupplier> supplier(document.get(), uno::UNO_QUERY);
        if (supplier.is()) {
            const uno::Reference<document::XDocumentProperties> properties = supplier->getDocumentProperties();
            if (properties.is() && properties->getTitle().trim().isEmpty())
                properties->setTitle(toOUString(QFileInfo(presentation).completeBaseName()));
        }
        uno::Sequence<beans::PropertyValue> store(2);
        store[0] = property("FilterName", uno::Any(rtl::OUString("impress_pdf_Export")));
        store[1] = property("FilterData", uno::Any(filterData(options)));
        uno::Reference<frame::XStorable>(document.get(), uno::UNO_QUERY_THROW)->storeToURL(fileUrl(pdf), store);
        *standIns = tracking.finish();
        return Result::Printed;
    } catch (const uno::Exception&) {
        return Result::NotSaved;
    }
}
} // namespace

} // namespace pradelux::render::inside

using pradelux::render::inside::Desktop;

// The desktop of the LibreOffice that accepts connections on the named pipe,
// reached through LibreOffice's published remote bridge; null while it does
// not answer yet.
extern "C" __attribute__((visibility("default"))) void* pradelux_hidden_connect(const char* programFolder,
                                                                                const char* pipe)
{
    namespace uno = com::sun::star::uno;
    namespace frame = com::sun::star::frame;
    namespace bridge = com::sun::star::bridge;
    using pradelux::render::inside::toOUString;
    static uno::Reference<uno::XComponentContext> local;
    try {
        if (!local.is()) {
            // The bridge's own libraries and types are named in the URE's
            // unorc, and those of the office (the desktop's interfaces) in
            // the fundamentals that it reads in turn.
            const QString folder = QString::fromUtf8(programFolder);
            rtl::Bootstrap::set("URE_BOOTSTRAP", toOUString(QStringLiteral("vnd.sun.star.pathname:") + folder +
                                                            QStringLiteral("/fundamentalrc")));
            local = cppu::defaultBootstrap_InitialComponentContext(
                pradelux::render::inside::fileUrl(folder + QStringLiteral("/unorc")));
        }
        const uno::Reference<bridge::XUnoUrlResolver> resolver = bridge::UnoUrlResolver::create(local);
        const uno::Reference<uno::XComponentContext> office(
            resolver->resolve(toOUString(
                QStringLiteral("uno:pipe,name=%1;urp;StarOffice.ComponentContext").arg(QString::fromUtf8(pipe)))),
            uno::UNO_QUERY_THROW);
        auto desktop = std::make_unique<Desktop>();
        desktop->desktop = frame::Desktop::create(office);
        try {
            desktop->fonts.set(com::sun::star::awt::Toolkit::create(office), uno::UNO_QUERY);
        } catch (const uno::Exception&) {
            // A LibreOffice that keeps no record prints all the same.
        }
        return desktop.release();
    } catch (const uno::Exception&) {
        return nullptr;
    }
}

// Prints one presentation: a HiddenDocuments::Result. The fonts that stood
// in go to standIns, a line "requested\tprinted" each, as many whole lines
// as size bytes hold, NUL-terminated.
extern "C" __attribute__((visibility("default"))) int pradelux_hidden_print(void* desktop, const char* presentation,
                                                                            const char* pdf, const char* filterOptions,
                                                                            const char* passwords, char* standIns,
                                                                            int size)
{
    QByteArray said;
    const int result = static_cast<int>(
        pradelux::render::inside::print(*static_cast<Desktop*>(desktop), QString::fromUtf8(presentation),
                                        QString::fromUtf8(pdf), filterOptions, passwords, &said));
    if (said.size() >= size)
        said.truncate(said.lastIndexOf('\n', size - 1) + 1);
    std::memcpy(standIns, said.constData(), static_cast<size_t>(said.size()));
    standIns[said.size()] = '\0';
    return result;
}

// Closes the presentation printed last, if it is still open.
extern "C" __attribute__((visibility("default"))) void pradelux_hidden_close(void* desktop)
{
    static_cast<Desktop*>(desktop)->last.reset();
}
