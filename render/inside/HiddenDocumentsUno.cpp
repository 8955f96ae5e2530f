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

#include <memory>

namespace pradelux::render::inside {

namespace uno = com::sun::star::uno;
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
    // The presentation printed last, closed once its answer has gone out.
    std::unique_ptr<OpenDocument> last;
};

Result print(Desktop& desktop, const QString& presentation, const QString& pdf, const char* options)
{
    desktop.last.reset();
    // Read-only, no macro, no link brought up to date, no questions: there
    // is nobody to answer them.
    uno::Sequence<beans::PropertyValue> load(5);
    load[0] = property("Hidden", uno::Any(true));
    load[1] = property("ReadOnly", uno::Any(true));
    load[2] = property("MacroExecutionMode", uno::Any(document::MacroExecMode::NEVER_EXECUTE));
    load[3] = property("UpdateDocMode", uno::Any(document::UpdateDocMode::NO_UPDATE));
    load[4] = property("Silent", uno::Any(true));
    uno::Reference<lang::XComponent> loaded;
    try {
        loaded = desktop.desktop->loadComponentFromURL(fileUrl(presentation), "_blank", 0, load);
    } catch (const uno::Exception&) {
        return Result::NotLoaded;
    }
    if (!loaded.is())
        return Result::NotLoaded;
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
        return desktop.release();
    } catch (const uno::Exception&) {
        return nullptr;
    }
}

// Prints one presentation: a HiddenDocuments::Result.
extern "C" __attribute__((visibility("default"))) int pradelux_hidden_print(void* desktop, const char* presentation,
                                                                            const char* pdf, const char* filterOptions)
{
    return static_cast<int>(pradelux::render::inside::print(
        *static_cast<Desktop*>(desktop), QString::fromUtf8(presentation), QString::fromUtf8(pdf), filterOptions));
}

// Closes the presentation printed last, if it is still open.
extern "C" __attribute__((visibility("default"))) void pradelux_hidden_close(void* desktop)
{
    static_cast<Desktop*>(desktop)->last.reset();
}
