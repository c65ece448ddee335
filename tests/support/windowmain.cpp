#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include <cerrno>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

// The window tests need one application object for the whole run, and no display.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // CI runs as root without a session; Qt would warn on every test listing.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const std::string dir = "/tmp/qvscan-tests-" + std::to_string(getuid());
        if (mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST)
            qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(dir));
    }
    // Readings kept after a failure go under the data location: never the tester's own.
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
