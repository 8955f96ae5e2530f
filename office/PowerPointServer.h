// The presentation application: answers the class "PowerPoint.Application"
// on the session bus, opens presentations, renders them with LibreOffice and
// prints them to the user's printers.
#pragma once

#include "PdfRenderer.h"
#include "PdfWriterPort.h"
#include "PrintOutput.h"

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QHash>
#include <QList>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class QThread;

namespace pradelux {
class Printers;
class Registry;
} // namespace pradelux

namespace pradelux::office {

using render::client::PdfRenderer;
using render::client::RenderedPdf;
using render::client::RenderRequest;

class PowerPointServer : public QDBusVirtualObject
{
    Q_OBJECT
public:
    // registry: where its own options are read for each presentation it
    // prints, and what the last one printed asked for is kept; startGraceMs:
    // how long a freshly started server waits for its first client before it
    // ends.
    PowerPointServer(QDBusConnection bus, Printers& printers, PdfRenderer& renderer, PdfWriterPort& port,
                     Registry& registry, int startGraceMs = 30000);
    ~PowerPointServer() override;

    // Registers the objects and takes the class's bus name; false when
    // another server already answers the class.
    bool start();

    // Removes the work folders in tempFolder of servers that no longer run.
    static void removeLeftovers(const QString& tempFolder);

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

    // True once the application is ending: a rendering it waits for is no
    // longer anyone's.
    bool ending() const { return m_ending; }

signals:
    // The server has finished its work and released its name.
    void finished();

private:
    struct PrintSettings
    {
        QString activePrinter;
        qint32 rangeType = 1;
        qint16 numberOfCopies = 1;
        qint16 collate = -1;
        qint16 printHiddenSlides = 0;
        qint32 printColorType = 1;
        qint16 fitToPage = 0;
        qint16 outputType = 1;
        QList<printoutput::SlideRange> ranges; // what RangeType 4 prints
    };
    struct Presentation
    {
        QString path;
        int slides = -1;                        // as its file lists them; -1: not known
        QStringList links;                      // the files it links to below its folder, relative to it
        std::optional<QList<char32_t>> letters; // beyond ASCII, when its check read them all
        // For one protected by a password: those it is opened with, kept
        // until it is closed, with the application.
        QStringList passwords;
        PrintSettings print;
    };
    struct Named
    {
        QString name;
        QVariant value;
    };

    QVariant invoke(const QString& path, const QString& member, int kind, const QList<Named>& args);
    QVariant application(const QString& member, int kind, const QList<Named>& args);
    QVariant presentations(const QString& member, int kind, const QList<Named>& args);
    QVariant presentation(int id, const QString& member, int kind, const QList<Named>& args);
    QVariant ranges(int id, const QString& member, int kind, const QList<Named>& args);
    QVariant printOptions(int id, const QString& member, int kind, const QList<Named>& args);

    // A presentation starts rendering when it is opened, with the print
    // options the last presentation printed asked for (kept in the registry,
    // so that an application started for each presentation knows them too),
    // while the client sets the options. PrintOut takes that PDF when it asks
    // for exactly what was rendered, and renders afresh otherwise.
    struct Ahead
    {
        int id = 0;
        RenderRequest request;
        QString jobFolder;
        std::unique_ptr<QThread> thread;
        std::optional<RenderedPdf> rendered;
        std::exception_ptr failure;
        double seconds = 0;
    };

    QVariant open(const QList<Named>& args);
    void printOut(int id);
    // Throws unless p can be printed as its print options ask, on printerName.
    void checkPrintable(const Presentation& p, const QString& printerName) const;
    RenderRequest requestFor(const Presentation& p, const PdfSettings& pdf) const;
    QString newJobFolder();
    void renderAhead(int id);
    // The rendering started for presentation id when it asked for request,
    // once it has ended; any other is ended and dropped.
    std::unique_ptr<Ahead> takeAhead(int id, const RenderRequest& request);
    void dropAhead();
    void rememberPrint(const QString& printerName, const PrintSettings& print);
    // Throws unless the printer is installed on the port that writes PDFs.
    void checkPort(const QString& printer) const;
    // Runs one of the printer's steps for the job; a failure is logged and
    // thrown again with the printer's reason, naming the presentation.
    static void asPrinter(const PrintJob& job, const QString& presentation, const std::function<void()>& step);
    void attach(const QString& client);
    void release(const QString& client, bool all);
    void checkLifetime();
    void shutDown();

    QDBusConnection m_bus;
    Printers& m_printers;
    PdfRenderer& m_renderer;
    PdfWriterPort& m_port;
    Registry& m_registry;
    QTemporaryDir m_work;
    std::map<int, Presentation> m_presentations;
    int m_active = 0;
    int m_nextId = 1;
    // How long the check of what a file holds may take: PRADELUX_CHECK_TIMEOUT (seconds), or 60.
    int m_checkTimeoutMs = 60000;
    int m_nextJob = 1;
    bool m_visible = false;
    bool m_displayAlerts = true;
    bool m_finished = false;
    std::atomic<bool> m_ending{false};
    std::unique_ptr<Ahead> m_ahead;
    QHash<QString, int> m_references;
    QTimer m_grace;
    QTimer m_busCheck;
};

} // namespace pradelux::office
