#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>

#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>

#include "app/appicon.h"
#include "app/batch.h"
#include "app/commandline.h"
#include "app/iolibrary.h"
#include "app/platform.h"
#include "app/resourcelisting.h"
#include "app/visacomexample.h"

namespace {

/// Reads the command line before any display is touched: --help, --version and usage errors
/// must work without one, and batch mode needs none.
CommandLineResult readCommandLine(int argc, char **argv)
{
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qvscan"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QVSCAN_VERSION));
    return CommandLine::parse(QCoreApplication::arguments());
}

} // namespace

int main(int argc, char **argv)
{
    const CommandLineResult parsed = readCommandLine(argc, argv);
    if (!parsed.options) {
        std::FILE *stream = parsed.exitStatus == 0 ? stdout : stderr;
        std::fputs(qPrintable(parsed.message), stream);
        std::fflush(stream);
        return parsed.exitStatus;
    }
    const CommandLine &options = *parsed.options;
    if (options.listResources) {
        // No window: the listing must work on a machine without a display.
        QCoreApplication core(argc, argv);
        return listResources(options, ListingPlaces{}, std::cout);
    }
    if (options.batch && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // A batch run outside a desktop session (cron, CI, root) has no runtime directory, and Qt
    // would say so on standard error, which is for the program's own messages. A private one,
    // made afresh and removed at the end, is what Qt would otherwise fall back to.
    std::optional<QTemporaryDir> runtimeDir;
    if (options.batch && qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        runtimeDir.emplace(QDir::tempPath() + QStringLiteral("/qvscan-runtime-XXXXXX"));
        if (runtimeDir->isValid())
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir->path()));
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qvscan"));
    QApplication::setApplicationVersion(QStringLiteral(QVSCAN_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.qvscan.QVScan"));
    QApplication::setWindowIcon(applicationIcon()); // the window and its message boxes

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
