#include "app/batch.h"

#include <QPushButton>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "app/batchprogress.h"
#include "app/platform.h"
#include "app/visacomexample.h"

int runBatch(VISAComExample &window, BatchPlatform &platform, std::FILE *out, std::FILE *progressTerminal)
{
    // A closed pipe is a failed write to report, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);

    BatchProgress progress(progressTerminal);
    platform.setBeforeMessage([&progress] { progress.clear(); });
    int outError = 0;
    const auto connection = QObject::connect(&window, &VISAComExample::lineAppended, [&](const QString &line) {
        progress.clear();
        if (outError)
            return;
        errno = 0;
        if (!writeTextLine(out, line))
            outError = errno ? errno : EIO;
    });
    const auto progressConnection = QObject::connect(
        &window, &VISAComExample::storedReadings,
        [&](int points, int total, double seconds) { progress.update(points, total, seconds, window.measTime); });

    window.load();
    if (!window.ended())
        window.GetReadings->click();
    const bool listed = window.readingsListed() > 0;
    progress.clear();
    if (outError) {
        QString text = QStringLiteral("qvscan: the listed lines could not be written to standard output: %1")
                           .arg(QString::fromLocal8Bit(std::strerror(outError)));
        if (const QString note = window.readingsFailureNote(); !note.isEmpty())
            text += QLatin1Char('\n') + note;
        platform.showMessage(nullptr, QString(), text);
    }
    if (!window.ended())
        window.ExitProg->click();

    QObject::disconnect(connection);
    QObject::disconnect(progressConnection);
    platform.setBeforeMessage({});
    return platform.messageShown() || !listed || outError ? kBatchFailed : kBatchReadingsListed;
}
