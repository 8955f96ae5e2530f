// Measures the export of one presentation with LibreOffice kept warm and
// with LibreOffice started for each presentation, against a bare LibreOffice
// conversion of the same file on the same machine, in one run, and shows
// where the time of the export goes.
//
// usage: bench_doppt [ROUNDS]   (run it inside a session bus: bench/run.sh does)
#include "BenchSupport.h"
#include "DBusAutomation.h"
#include "Decks.h"
#include "FakeDialogs.h"
#include "PowerPoint1.h"
#include "Printers.h"
#include "Registry.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <map>

using namespace pradelux;

namespace {

// Times every call that passes through it, by member name.
class TimingObject : public Dispatch
{
public:
    TimingObject(ObjectRef real, std::map<QString, double>& spent) : m_real(std::move(real)), m_spent(spent) {}
    Value get(const QString& m, const Arguments& a) override
    {
        return timed(m, [&] { return m_real->get(m, a); });
    }
    void put(const QString& m, const Value& v) override
    {
        timed(m, [&] {
            m_real->put(m, v);
            return Value();
        });
    }
    Value call(const QString& m, const Arguments& a) override
    {
        return timed(m, [&] { return m_real->call(m, a); });
    }

private:
    template <typename F> Value timed(const QString& member, F f)
    {
        QElapsedTimer t;
        t.start();
        Value v = f();
        m_spent[member] += t.nsecsElapsed() / 1e9;
        return v.type() == Value::Type::Object ? Value(ObjectRef(std::make_shared<TimingObject>(v.toObject(), m_spent)))
                                               : v;
    }
    ObjectRef m_real;
    std::map<QString, double>& m_spent;
};

class TimingAutomation : public Automation
{
public:
    explicit TimingAutomation(Automation& real) : m_real(real) {}
    std::map<QString, double> spent;
    ObjectRef createObject(const QString& id) override
    {
        return wrap("CreateObject", [&] { return m_real.createObject(id); });
    }
    ObjectRef getObject(const QString& id) override
    {
        return wrap("GetObject", [&] { return m_real.getObject(id); });
    }

private:
    template <typename F> ObjectRef wrap(const char* what, F f)
    {
        QElapsedTimer t;
        t.start();
        ObjectRef o = f();
        spent[QLatin1String(what)] += t.nsecsElapsed() / 1e9;
        return std::make_shared<TimingObject>(o, spent);
    }
    Automation& m_real;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    QTemporaryDir home;
    bench::useOwnEnvironment(home);
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 3;

    UserPrinters().install(QStringLiteral("Veltrande PDF Writer"), QStringLiteral("CPW2:"));
    const QString deck = test::deck(QStringLiteral("pptx"));
    auto bare = [&] {
        QTemporaryDir out;
        return bench::bareConversion({deck}, out.path(), bench::bareProfile());
    };
    bare(); // the profile is made on the first run; neither side pays for it below

    DBusAutomation dbus(QDBusConnection::sessionBus(),
                        QCoreApplication::applicationDirPath() + QStringLiteral("/../bin"));
    FileRegistry registry;
    test::FakeDialogs dialogs;
    struct Times
    {
        std::vector<double> total, printOut, create, other;
    };
    // One export, timed call by call; false when it did not give its PDF.
    auto exportOnce = [&](Times& times) {
        QTemporaryDir out;
        TimingAutomation timing(dbus);
        QElapsedTimer t;
        t.start();
        const bool ok = PowerPoint1(PowerPoint1::defaults(timing, registry, dialogs))
                            .DoPPT(deck, out.filePath(QStringLiteral("deck.pdf")));
        if (!ok || !dialogs.boxes.isEmpty()) {
            fprintf(stderr, "the export failed: %s\n", qPrintable(dialogs.texts().join(QLatin1Char('\n'))));
            return false;
        }
        times.total.push_back(t.nsecsElapsed() / 1e9);
        times.printOut.push_back(timing.spent[QStringLiteral("PrintOut")]);
        times.create.push_back(timing.spent[QStringLiteral("CreateObject")]);
        double calls = 0;
        for (const auto& [member, sec] : timing.spent)
            if (member != QLatin1String("PrintOut") && member != QLatin1String("CreateObject"))
                calls += sec;
        times.other.push_back(calls);
        return true;
    };

    // LibreOffice started afresh for every presentation, as before.
    Times cold;
    qputenv("PRADELUX_OFFICE_RENDERER", "soffice");
    {
        Times warmUp; // makes that renderer's own LibreOffice profile
        if (!exportOnce(warmUp))
            return 1;
    }
    std::vector<double> bareTimes;
    for (int i = 0; i < rounds; ++i) {
        bareTimes.push_back(bare());
        if (!exportOnce(cold))
            return 1;
    }
    // LibreOffice kept loaded: the first row of a session starts it.
    qunsetenv("PRADELUX_OFFICE_RENDERER");
    Times first, warm;
    if (!exportOnce(first))
        return 1;
    for (int i = 0; i < rounds; ++i) {
        if (!exportOnce(warm))
            return 1;
    }

    const double pauses = 3.4;
    const double bareMedian = median(bareTimes);
    printf("deck: %s, %d rounds, medians\n", qPrintable(QFileInfo(deck).fileName()), rounds);
    printf("bare soffice --convert-to pdf            %6.3f s\n", bareMedian);
    const auto show = [&](const char* title, const Times& t) {
        printf("%s\n", title);
        printf("  DoPPT total                            %6.3f s\n", median(t.total));
        printf("    fixed pauses                         %6.3f s\n", pauses);
        printf("    PrintOut (LibreOffice rendering)     %6.3f s\n", median(t.printOut));
        printf("    CreateObject (start application)     %6.3f s\n", median(t.create));
        printf("    all other automation calls           %6.3f s\n", median(t.other));
    };
    show("LibreOffice started for each presentation (PRADELUX_OFFICE_RENDERER=soffice):", cold);
    show("LibreOffice kept warm (the default), after the first row:", warm);
    printf("first row of a session (starts the warm LibreOffice): %.3f s, PrintOut %.3f s\n", first.total.front(),
           first.printOut.front());
    printf("warm DoPPT beyond the pauses: %+.3f s (target at most +0.25 s)\n", median(warm.total) - pauses);
    printf("cold DoPPT beyond pauses and bare LibreOffice: %+.3f s\n", median(cold.total) - pauses - bareMedian);
    return 0;
}
