#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Conversion logs of the tests go to a folder of their own, never the user's.
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", state.path().toUtf8());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
