// The presentation application through the real D-Bus backend: lifetime,
// attaching, type checks, and clear failures.
#include "Decks.h"
#include "Failure.h"
#include "ServerFixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>

using namespace pradelux;

namespace {

class AutomationServerTest : public test::ServerFixture
{
protected:
    int failureNumber(const std::function<void()>& f, QString* description = nullptr)
    {
        try {
            f();
        } catch (const Failure& e) {
            if (description)
                *description = e.description();
            return e.number();
        }
        return 0;
    }
};

TEST_F(AutomationServerTest, CreateThenReleaseLeavesNoApplicationRunning)
{
    {
        ObjectRef app = automation.createObject(QStringLiteral("PowerPoint.Application"));
        EXPECT_TRUE(running());
        EXPECT_EQ(app->get(QString()).toText(), QStringLiteral("Microsoft PowerPoint"));
        ObjectRef same = automation.getObject(QStringLiteral("PowerPoint.Application"));
        EXPECT_EQ(same->get(QString()).toText(), QStringLiteral("Microsoft PowerPoint"));
    }
    EXPECT_TRUE(waitUntilGone(5000));
}

TEST_F(AutomationServerTest, GetObjectOnlyAttachesToARunningApplication)
{
    EXPECT_EQ(failureNumber([&] { automation.getObject(QStringLiteral("PowerPoint.Application")); }),
              failure::kCannotCreateObject);
    QTest::qWait(300);
    EXPECT_FALSE(running());
    EXPECT_EQ(failureNumber([&] { automation.createObject(QStringLiteral("Unregistered.Application")); }),
              failure::kCannotCreateObject);
}

TEST_F(AutomationServerTest, VisibleApplicationEndsWithItsLastClientOrWhenToldToQuit)
{
    // It has no window to show: once nobody holds it, nobody could use it.
    {
        ObjectRef app = automation.createObject(QStringLiteral("PowerPoint.Application"));
        app->put(QStringLiteral("Visible"), Value::boolean(true));
    }
    EXPECT_TRUE(waitUntilGone(5000));
    ObjectRef app = automation.createObject(QStringLiteral("PowerPoint.Application"));
    app->put(QStringLiteral("Visible"), Value::boolean(true));
    QTest::qWait(300);
    ASSERT_TRUE(running());
    app->call(QStringLiteral("Quit"));
    EXPECT_TRUE(waitUntilGone(5000));
}

TEST_F(AutomationServerTest, MembersTakeTheirOwnTypesAndWidthsOnly)
{
    ObjectRef app = automation.createObject(QStringLiteral("PowerPoint.Application"));
    app->object(QStringLiteral("Presentations"))
        ->call(QStringLiteral("Open"), {Argument{test::deck(QStringLiteral("fodp")), QStringLiteral("fileName")}});
    ObjectRef options = app->object(QStringLiteral("ActivePresentation"))->object(QStringLiteral("PrintOptions"));
    EXPECT_EQ(options->get(QStringLiteral("ActivePrinter")).toText(), QStringLiteral("Veltrande PDF Writer"));

    QString why;
    EXPECT_EQ(failureNumber([&] { options->put(QStringLiteral("RangeType"), Value::int16(1)); }, &why),
              failure::kTypeMismatch);
    EXPECT_TRUE(why.contains(QStringLiteral("32-bit integer"))) << why.toStdString();
    EXPECT_EQ(failureNumber([&] { options->put(QStringLiteral("NumberOfCopies"), Value::int32(1)); }),
              failure::kTypeMismatch);
    EXPECT_EQ(failureNumber([&] { app->put(QStringLiteral("Visible"), Value::int32(1)); }), failure::kTypeMismatch);
    options->put(QStringLiteral("NumberOfCopies"), Value::int16(1));
    options->put(QStringLiteral("RangeType"), Value::int32(1));
    EXPECT_EQ(options->get(QStringLiteral("NumberOfCopies")).type(), Value::Type::Int16);
    // Ranges of slides: each from a slide number to one no lower, as Longs.
    ObjectRef ranges = options->object(QStringLiteral("Ranges"));
    const auto add = [&](Value start, Value end) {
        return failureNumber([&] {
            ranges->call(QStringLiteral("Add"), {Argument{start, QStringLiteral("Start")}, Argument{end, {}}});
        });
    };
    EXPECT_EQ(add(Value::int16(1), Value::int32(2)), failure::kTypeMismatch);
    EXPECT_EQ(add(Value::int32(0), Value::int32(2)), failure::kInvalidArgument);
    EXPECT_EQ(add(Value::int32(3), Value::int32(2)), failure::kInvalidArgument);
    EXPECT_EQ(add(Value::int32(2), Value::int32(3)), 0);
    EXPECT_EQ(add(Value::int32(7), Value::int32(7)), 0);
    EXPECT_EQ(ranges->get(QStringLiteral("Count")).toInt32(), 2);
    ranges->call(QStringLiteral("ClearAll"));
    EXPECT_EQ(ranges->get(QStringLiteral("Count")).toInt32(), 0);

    EXPECT_EQ(failureNumber([&] { app->get(QStringLiteral("NoSuchMember")); }), failure::kNoSuchMember);
    EXPECT_EQ(failureNumber(
                  [&] { options->put(QStringLiteral("ActivePrinter"), QStringLiteral("veltrande pdf writer")); }, &why),
              failure::kAutomationError);
    EXPECT_TRUE(why.contains(QStringLiteral("is not installed")));
    EXPECT_EQ(failureNumber([&] {
                  app->object(QStringLiteral("Presentations"))
                      ->call(QStringLiteral("Open"), {Argument{QStringLiteral("x"), QStringLiteral("Name")}});
              }),
              failure::kNamedArgumentNotFound);
}

TEST_F(AutomationServerTest, OpenSaysWhyAFileCannotBeOpenedWithinBoundedWork)
{
    // The check of a file may take a second here (three in the sanitizers'
    // build, which reads far slower, while other tests run beside it), and
    // its parts may unpack to 4 GiB in all.
#ifdef __SANITIZE_ADDRESS__
    const int bound = 3;
#else
    const int bound = 1;
#endif
    test::ScopedEnv checkBound("PRADELUX_CHECK_TIMEOUT", QByteArray::number(bound));
    test::ScopedEnv unpackBudget("PRADELUX_UNPACK_LIMIT", "4096");
    QFile text(config.path(QStringLiteral("notes.pptx")));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("just some text, not a presentation");
    text.close();
    QDir().mkpath(config.path(QStringLiteral("folder.pptx")));

    ObjectRef presentations =
        automation.createObject(QStringLiteral("PowerPoint.Application"))->object(QStringLiteral("Presentations"));
    QList<QPair<QString, QString>> cases = {
        {config.path(QStringLiteral("gone.pptx")), QStringLiteral("the file does not exist")},
        {config.path(QStringLiteral("notes.pptx")), QStringLiteral("not a presentation")},
        {config.path(QStringLiteral("folder.pptx")), QStringLiteral("it is a folder")},
    };
    // Other documents, and decks that LibreOffice could only open by repairing them.
    const QString strange = config.path(QStringLiteral("strange"));
    ASSERT_EQ(QProcess::execute(QStringLiteral("python3"),
                                {QStringLiteral(PRADELUX_SOURCE_DIR "/tests/endtoend/strange_files.py"),
                                 test::deck(QStringLiteral("odp")), test::deck(QStringLiteral("pptx")), strange}),
              0);
    for (const char* name : {"letter.pptx", "sheet.odp", "essay.ppt"})
        cases.append({strange + QLatin1Char('/') + QLatin1String(name), QStringLiteral("not a presentation")});
    for (const char* suffix : {".odp", ".pptx"}) {
        for (const char* cut : {"cut10", "cut50", "cut90", "cut-inside", "flipped"})
            cases.append({strange + QLatin1Char('/') + QLatin1String(cut) + QLatin1String(suffix),
                          QStringLiteral("the file is damaged")});
    }
    cases += {{strange + QStringLiteral("/pipe.pptx"), QStringLiteral("it is not a regular file")},
              {strange + QStringLiteral("/bomb16.pptx"), QStringLiteral("the file is damaged (the part \"")},
              {strange + QStringLiteral("/name-past-end.pptx"), QStringLiteral("the file is damaged")},
              {strange + QStringLiteral("/claims6g.pptx"),
               QStringLiteral("the file is damaged (it unpacks to more than 4096 MiB)")},
              {strange + QStringLiteral("/huge.pptx"), QStringLiteral("took longer than %1 seconds").arg(bound)}};
    for (const char* locked : {"locked.pptx", "locked.ppt", "locked.odp"})
        cases.append(
            {strange + QLatin1Char('/') + QLatin1String(locked), QStringLiteral("it is protected by a password")});
    QElapsedTimer clock;
    clock.start();
    for (const QString& deck :
         {test::deck(QStringLiteral("odp")), test::deck(QStringLiteral("pptx")), test::deck(QStringLiteral("ppt")),
          test::deck(QStringLiteral("fodp")), strange + QStringLiteral("/many.pptx"),
          strange + QStringLiteral("/powerpoint4.ppt"), strange + QStringLiteral("/comment.pptx")})
        presentations->call(QStringLiteral("Open"), {Argument{deck, QStringLiteral("fileName")}});
    for (const auto& [file, why] : cases) {
        QString description;
        EXPECT_NE(failureNumber(
                      [&] {
                          presentations->call(QStringLiteral("Open"), {Argument{file, QStringLiteral("fileName")}});
                      },
                      &description),
                  0);
        EXPECT_TRUE(description.contains(file) && description.contains(why)) << description.toStdString();
    }
    // None of them held the application up: the slowest was stopped at its bound.
    EXPECT_LT(clock.elapsed(), 20000);
}

TEST_F(AutomationServerTest, ApplicationWithoutLibreOfficeCannotBeCreated)
{
    test::ScopedEnv noOffice("PRADELUX_OFFICE_SOFFICE", "/nonexistent/soffice");
    QElapsedTimer clock;
    clock.start();
    QString why;
    EXPECT_EQ(failureNumber([&] { automation.createObject(QStringLiteral("PowerPoint.Application")); }, &why),
              failure::kCannotCreateObject);
    EXPECT_TRUE(why.contains(QStringLiteral("ended before it was ready"))) << why.toStdString();
    EXPECT_TRUE(why.contains(QStringLiteral("sudo apt install libreoffice-impress"))) << why.toStdString();
    EXPECT_LT(clock.elapsed(), 10000);
}

} // namespace
