#include <QApplication>
#include <QLineEdit>

#include <cstdio>
#include <memory>

#include "app/batch.h"
#include "app/commandline.h"
#include "app/iolibrary.h"
#include "app/platform.h"
#include "app/visacomexample.h"

namespace {

/// Reads the command line before any display is touched: --help, --version and usage errors
/// must work without one, and batch mode needs none.
CommandLine readCommandLine(int argc, char **argv)
{
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qvscan"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QVSCAN_VERSION));
    return CommandLine::parse(core);
}

} // namespace

int main(int argc, char **argv)
{
    const CommandLine options = readCommandLine(argc, argv);
    if (options.batch && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qvscan"));
    QApplication::setApplicationVersion(QStringLiteral(QVSCAN_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.qvscan.QVScan"));

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
    if (!options.output.isEmpty())
        window.setOutputFile(options.output);

    if (options.batch)
        return runBatch(window, batchPlatform, stdout, stderr);

    window.load();
    if (!window.ended())
        QApplication::exec();
    return 0;
}
