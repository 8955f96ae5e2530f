// The window for keyboard, screen-reader and dark-theme users, and what the
// desktop hears of a long export.
#include "DesktopSignals.h"
#include "FormFixture.h"
#include "PdfChoices.h"
#include "SettingsStore.h"
#include "Texts.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <cmath>

using namespace pradelux;

namespace {

class RecordingDesktop : public DesktopSignals
{
public:
    QStringList calls;
    void progress(double fraction, bool visible) override
    {
        calls << QStringLiteral("progress %1 %2").arg(fraction).arg(visible);
    }
    void notify(const QString& summary, const QString& body) override
    {
        calls << summary + QStringLiteral(": ") + body;
    }
};

// The contrast of what a widget shows: its most common colour against the
// colour that stands out most from it (the text's, as drawn).
double contrastOf(QWidget* widget, int band = 0)
{
    QImage image = widget->grab().toImage();
    if (band > 0)
        image = image.copy(0, 0, image.width(), band);
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ++counts[image.pixel(x, y)];
    const auto luminance = [](QRgb c) {
        const auto lin = [](int v) {
            const double s = v / 255.0;
            return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * lin(qRed(c)) + 0.7152 * lin(qGreen(c)) + 0.0722 * lin(qBlue(c));
    };
    QRgb background = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > counts.value(background))
            background = it.key();
    double best = 1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        const double a = luminance(it.key()), b = luminance(background);
        best = qMax(best, (qMax(a, b) + 0.05) / (qMin(a, b) + 0.05));
    }
    return best;
}

class WindowAccessTest : public test::FormFixture
{
protected:
    std::unique_ptr<Form1> form;
    QString out = config.path(QStringLiteral("out"));

    void open(bool skin = true)
    {
        QDir().mkpath(out);
        form = load({skin, true});
        form->show();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
        child<QLineEdit>(*form, "Text1")->setText(out);
    }
    static QString focused()
    {
        return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : "none";
    }
    static void key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(key), modifiers);
    }
};

TEST_F(WindowAccessTest, KeyboardReachesEveryControlInScreenOrderAndEveryShortcutActs)
{
    int exported = 0;
    exportOne = [&](const QString&, const QString&) { return ++exported > 0; };
    open();
    form->presentations().AppendEntry(QStringLiteral("/in/a.pptx"));
    form->presentations().AppendEntry(QStringLiteral("/in/b.pptx"));
    form->presentations().AppendEntry(QStringLiteral("/in/c.pptx"));
    child(*form, "ListView1")->setFocus();
    QStringList order;
    for (int i = 0; i < 9; ++i) {
        key(Qt::Key_Tab);
        order << focused();
    }
    EXPECT_EQ(order, QStringList({"PushButton1", "PushButton4", "PushButton5", "PushButton6", "Text1", "PushButton7",
                                  "PushButton2", "PushButton3", "ListView1"}));
    key(Qt::Key_Delete); // the row the keyboard is on, selected or not
    EXPECT_EQ(rows(*form), QStringList({"/in/b.pptx", "/in/c.pptx"}));
    key(Qt::Key_Backtab);
    EXPECT_EQ(focused(), QStringLiteral("PushButton3"));

    key(Qt::Key_Return); // presses the focused button: the help
    key(Qt::Key_F1);
    key(Qt::Key_O, Qt::ControlModifier);
    key(Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
    key(Qt::Key_L, Qt::ControlModifier);
    EXPECT_EQ(focused(), QStringLiteral("Text1"));
    EXPECT_EQ(child<QLineEdit>(*form, "Text1")->selectedText(), out);
    key(Qt::Key_Return, Qt::ControlModifier);
    key(Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(dialogs.texts().mid(0, 2), QStringList({texts::kHelpText, texts::kHelpText}));
    EXPECT_EQ(dialogs.fileRequests.size(), 1);
    EXPECT_EQ(dialogs.inputRequests.size() + dialogs.folderRequests.size(), 1);
    EXPECT_EQ(exported, 2);
    EXPECT_EQ(exits, QList<int>({0}));
    for (int button : {1, 2, 3, 4})
        EXPECT_TRUE(child(*form, QStringLiteral("PushButton%1").arg(button).toLatin1())->toolTip().contains('('));
}

TEST_F(WindowAccessTest, EveryControlIsNamedAndEveryTextReadableInALightAndADarkTheme)
{
    QPalette dark;
    for (auto [role, colour] : {std::pair{QPalette::Window, QColor(0x2b, 0x2b, 0x2b)},
                                {QPalette::WindowText, Qt::white},
                                {QPalette::Base, QColor(0x1e, 0x1e, 0x1e)},
                                {QPalette::Text, Qt::white},
                                {QPalette::Button, QColor(0x35, 0x35, 0x35)},
                                {QPalette::ButtonText, Qt::white}})
        dark.setColor(role, colour);
    const QPalette light = QApplication::palette();
    for (const auto& [theme, palette] : {std::pair{"light", light}, std::pair{"dark", dark}}) {
        for (bool skin : {true, false}) {
            QApplication::setPalette(palette);
            open(skin);
            for (const char* name : {"PushButton1", "PushButton2", "PushButton3", "PushButton4", "PushButton5",
                                     "PushButton6", "PushButton7", "ProgressBar1", "Text1", "ListView1", "Frame2"}) {
                QWidget* w = child(*form, name);
                EXPECT_FALSE(w->accessibleName().isEmpty()) << name;
                if (QByteArray(name) != "ListView1") {
                    EXPECT_GE(contrastOf(w, QByteArray(name) == "Frame2" ? 14 : 0), 4.5)
                        << theme << (skin ? " skin " : " plain ") << name;
                }
            }
            EXPECT_FALSE(child(*form, "ListView1")->accessibleDescription().isEmpty());
        }
    }
    QApplication::setPalette(light);
}

// A stand-in for the desktop's notification service: records each call.
class NotificationService : public QDBusVirtualObject
{
public:
    QList<QVariantList> calls;
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override
    {
        calls << message.arguments();
        bus.send(message.createReply(QVariant::fromValue(1u)));
        return true;
    }
};

// Records the launcher entry's Update signals seen on the bus.
class LauncherWatcher : public QObject
{
    Q_OBJECT
public:
    explicit LauncherWatcher(QDBusConnection bus)
    {
        bus.connect(QString(), QString(), QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"),
                    this, SLOT(update(QDBusMessage)));
    }
    QList<QVariantList> received;
public slots:
    void update(const QDBusMessage& message) { received << message.arguments(); }
};

TEST_F(WindowAccessTest, LongExportShowsOnTheTaskBarAndEndsWithANotificationWhenTheUserWorksElsewhere)
{
    RecordingDesktop desktop;
    desktopSignals = &desktop;
    exportOne = [&](const QString& in, const QString&) { return in.endsWith(QLatin1String("a.pptx")); };
    open();
    form->presentations().AppendEntry(QStringLiteral("/in/a.pptx"));
    form->presentations().AppendEntry(QStringLiteral("/in/b.pptx"));
    child<QPushButton>(*form, "PushButton2")->click();
    EXPECT_EQ(desktop.calls, QStringList({"progress 0.5 1", "progress 1 1", "progress 0 0"}));
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
    desktop.calls.clear();
    child<QPushButton>(*form, "PushButton2")->click();
    EXPECT_EQ(desktop.calls.constLast(), QStringLiteral("Export finished: 1 PDF written, 1 row gave no PDF."));

    // On the session bus: the launcher entry's signal and the notification.
    QDBusConnection bus = QDBusConnection::sessionBus();
    NotificationService service;
    ASSERT_TRUE(bus.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &service));
    ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.Notifications")));
    LauncherWatcher recorder(bus);
    SessionDesktopSignals onTheBus(bus, QStringLiteral("org.pradelux.Pradelux.desktop"));
    onTheBus.progress(0.25, true);
    onTheBus.notify(QStringLiteral("Export finished"), QStringLiteral("3 PDFs written, every row gave its PDF."));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !service.calls.isEmpty() && !recorder.received.isEmpty(); }, 5000));
    EXPECT_EQ(recorder.received[0].value(0).toString(), QStringLiteral("application://org.pradelux.Pradelux.desktop"));
    EXPECT_EQ(service.calls[0].value(3).toString(), QStringLiteral("Export finished"));
    EXPECT_EQ(service.calls[0].value(4).toString(), QStringLiteral("3 PDFs written, every row gave its PDF."));
    bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
}

// The PDF choices: from the keyboard and the context menu, named for screen
// readers; what LibreOffice would refuse or make otherwise is refused in the
// dialog, and what it takes is kept with the settings.
TEST_F(WindowAccessTest, PdfOptionsOpenFromKeyboardAndMenuRefuseWhatLibreOfficeWouldChangeAndAreKept)
{
    open();
    ASSERT_EQ(form->contextMenuPolicy(), Qt::ActionsContextMenu);
    ASSERT_EQ(form->actions().size(), 1);
    EXPECT_EQ(form->actions()[0]->text(), QStringLiteral("PDF Options..."));
    const struct
    {
        const char* what;
        std::function<void(PdfChoicesDialog&)> choose;
        QString refused; // empty: kept
    } cases[] = {
        {"PDF/UA with PDF/A-1", [](PdfChoicesDialog& d) { d.pdfua->setChecked(true), d.pdfa->setCurrentIndex(1); },
         "PDF/A-1 allows no PDF/UA"},
        {"PDF/A without tags", [](PdfChoicesDialog& d) { d.tagged->setChecked(false), d.pdfa->setCurrentIndex(2); },
         "LibreOffice tags every PDF/A"},
        {"JPEG quality without loss",
         [](PdfChoicesDialog& d) { d.jpegQuality->setValue(70), d.lossless->setChecked(true); }, "no JPEG quality"},
        {"a slide list that is not one", [](PdfChoicesDialog& d) { d.slides->setText(QStringLiteral("2-x")); },
         "Slides: \"2-x\" is neither"},
        {"archives, no hidden slides, one LibreOffice a folder, handouts of three slides",
         [](PdfChoicesDialog& d) {
             d.pdfa->setCurrentIndex(2), d.pdfua->setChecked(true), d.hiddenSlides->setChecked(false);
             d.isolateRows->setChecked(false), d.imageDpi->setValue(150);
             d.printed->setCurrentIndex(1), d.slides->setText(QStringLiteral(" 1-2, 5"));
         },
         QString()},
    };
    for (const auto& c : cases) {
        const QString before = settings.ReadSetting(pdfsettings::kPdfA, QString());
        bool opened = false;
        // Once open, the test fills it in and presses OK.
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<PdfChoicesDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr) << c.what;
            opened = true;
            EXPECT_EQ(dialog->accessibleName(), QStringLiteral("PDF Options"));
            EXPECT_EQ(dialog->pdfa->accessibleName(), QStringLiteral("PDF/A for archives"));
            EXPECT_EQ(dialog->slides->accessibleName(), QStringLiteral("Slides"));
            c.choose(*dialog);
            dialog->accept();
            EXPECT_EQ(dialog->isVisible(), !c.refused.isEmpty()) << c.what;
            EXPECT_TRUE(dialog->problem->text().contains(c.refused)) << c.what;
            if (dialog->isVisible())
                dialog->reject();
        });
        // The first from the keyboard, the others as the context menu does.
        if (&c == &cases[0])
            QTest::keyClick(form.get(), Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
        else
            form->actions()[0]->trigger();
        EXPECT_TRUE(opened) << c.what;
        if (!c.refused.isEmpty()) {
            EXPECT_EQ(settings.ReadSetting(pdfsettings::kPdfA, QString()), before) << c.what;
        }
    }
    const PrintChoices kept = ReadPdfChoices(settings);
    EXPECT_EQ(kept.pdf.pdfa, 2);
    EXPECT_TRUE(kept.pdf.pdfua && kept.pdf.tagged);
    EXPECT_EQ(kept.pdf.imageDpi, 150);
    EXPECT_FALSE(kept.hiddenSlides);
    EXPECT_FALSE(kept.isolateRows);
    EXPECT_EQ(kept.output, printoutput::kSlidesThenNotesPages);
    EXPECT_EQ(printoutput::SlidesText(kept.slides), QStringLiteral("1-2,5"));
}

} // namespace

#include "WindowAccessTest.moc"
