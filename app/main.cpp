#include <QApplication>
#include <QLineEdit>

#include <cstdio>
#include <cstring>
#include <memory>

#include "app/batch.h"
#include "app/commandline.h"
#include "app/iolibrary.h"
#include "app/platform.h"
#include "app/visacomexample.h"

namespace {

/// Batch mode and the options that only print need no display; this must be known before the
/// application connects to one.
bool needsNoDisplay(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        for (const char *option : {"--batch", "--help", "-h", "--help-all", "--version", "-v"})
            if (std::strcmp(argv[i], option) == 0)
                return true;
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    if (needsNoDisplay(argc, argv) && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qvscan"));
    QApplication::setApplicationVersion(QStringLiteral(QVSCAN_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.qvscan.QVScan"));
    const CommandLine options = CommandLine::parse(app);

    std::shared_ptr<visa::Backend> ioLibrary;
    try {
        ioLibrary = makeIoLibrary(options);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qvscan: %s\n", e.what());
        return kBatchUsageError;
    }

    DesktopPlatform desktop;
    BatchPlatform batchPlatform;
    Platform &platform = options.batch ? static_cast<Platform &>(batchPlatform) : desktop;

    VISAComExample window(ioLibrary, platform);
    if (!options.address.isNull())
        window.ioSelect->setText(options.address);

    if (options.batch)
        return runBatch(window, batchPlatform, stdout);

    window.load();
    if (!window.ended())
        QApplication::exec();
    return 0;
}
