#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Conversion logs, settings and progress files of the tests go to folders of their own,
    // never the user's.
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", state.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", state.filePath("config").toUtf8());
    qputenv("XDG_CACHE_HOME", state.filePath("cache").toUtf8());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
