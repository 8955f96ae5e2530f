// The main of every test program: a QApplication on the offscreen platform,
// and for the programs that talk to the presentation application a session
// bus of their own.
#include "PrivateBus.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef PRADELUX_TEST_PRIVATE_BUS
    // Before anything in this process opens the session bus.
    pradelux::test::PrivateBus bus;
    if (!bus.start()) {
        fprintf(stderr, "could not start a private session bus\n");
        return 1;
    }
#endif
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
