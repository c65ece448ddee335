// qvscan-sim: the simulated QV3310 on a pseudo-terminal, so any program (qvscan with its
// built-in serial I/O, a VISA library, a terminal emulator) can reach it as a serial instrument.

#include <QCommandLineParser>
#include <QCoreApplication>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/clock.h"
#include "sim/faults.h"
#include "sim/qv3310.h"
#include "simserver/ptyserver.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

extern "C" void requestStop(int)
{
    g_stop = 1;
}

/// What the symbolic link @p link points at; empty when it is none.
std::string linkTarget(const std::string &link)
{
    std::string target(4096, '\0');
    const ssize_t n = readlink(link.c_str(), target.data(), target.size());
    if (n < 0)
        return {};
    target.resize(static_cast<std::size_t>(n));
    return target;
}

/// Makes @p link a symbolic link to @p target. A symbolic link whose target is gone, left from an
/// earlier run, is replaced; one that points at something that is there (another server's device,
/// most likely) is refused, and so is anything that is not a symbolic link.
void createLink(const std::string &link, const std::string &target)
{
    struct stat existing = {};
    if (lstat(link.c_str(), &existing) == 0) {
        if (!S_ISLNK(existing.st_mode))
            throw std::runtime_error("cannot create link " + link + ": something other than a symbolic link is there");
        struct stat pointee = {};
        if (stat(link.c_str(), &pointee) == 0) {
            throw std::runtime_error("cannot create link " + link + ": it is in use, pointing at " + linkTarget(link)
                                     + " (another qvscan-sim?)");
        }
        if (unlink(link.c_str()) != 0)
            throw std::runtime_error("cannot replace the stale link " + link + ": " + std::strerror(errno));
    }
    if (symlink(target.c_str(), link.c_str()) != 0)
        throw std::runtime_error("cannot create link " + link + " to " + target + ": " + std::strerror(errno));
}

/// Removes @p link if it still points at @p target: another server may have replaced it since.
void removeLink(const std::string &link, const std::string &target)
{
    if (linkTarget(link) == target)
        unlink(link.c_str());
}

[[noreturn]] void usageError(const QString &message)
{
    std::fprintf(stderr, "qvscan-sim: %s\nTry 'qvscan-sim --help'.\n", qPrintable(message));
    std::exit(2);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qvscan-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QVSCAN_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Serves a simulated QV3310 on a pseudo-terminal and prints its device path on the first line of "
        "standard output. Commands end with LF, CR LF or CR; replies end with CR LF and leave at the pace of a "
        "115200-baud line. Ends on SIGINT, SIGTERM or SIGHUP."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption link(QStringLiteral("link"),
                                  QStringLiteral("Also make <path> a symbolic link to the device (removed at the end). "
                                                 "A link to a device in use is refused, a stale one replaced."),
                                  QStringLiteral("path"));
    const QCommandLineOption fault(QStringLiteral("fault"),
                                   QStringLiteral("Give the instrument a fault (repeatable):\n%1")
                                       .arg(QString::fromStdString(sim::Faults::help(true))),
                                   QStringLiteral("name"));
    const QCommandLineOption fast(QStringLiteral("fast"),
                                  QStringLiteral("Send replies at once instead of at the serial line's pace."));
    const QCommandLineOption timeScale(QStringLiteral("time-scale"),
                                       QStringLiteral("Run the instrument's clock <n> times faster than the wall "
                                                      "clock (scans and line times alike; default 1)."),
                                       QStringLiteral("n"), QStringLiteral("1"));
    parser.addOptions({link, fault, fast, timeScale});
    if (!parser.parse(QCoreApplication::arguments()))
        usageError(parser.errorText());
    if (parser.isSet(help))
        parser.showHelp(0);
    if (parser.isSet(version))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        usageError(QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first()));

    sim::Faults faults;
    try {
        std::vector<std::string> items;
        for (const QString &item : parser.values(fault))
            items.push_back(item.toStdString());
        faults = sim::Faults::parse(items, true);
    } catch (const std::invalid_argument &e) {
        usageError(QStringLiteral("--fault: %1").arg(QString::fromStdString(e.what())));
    }
    bool scaleRead = false;
    const double scale = parser.value(timeScale).toDouble(&scaleRead);
    if (!scaleRead || !(scale > 0) || !std::isfinite(scale))
        usageError(QStringLiteral("--time-scale: \"%1\" is not a positive number").arg(parser.value(timeScale)));

    // The stop signals are blocked except while the server waits, so they only end the wait.
    // SIGHUP (the terminal it ran in closed) ends it as cleanly as the others.
    constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction action
    {
    };
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (int signal : kStopSignals) {
        sigaction(signal, &action, nullptr);
        sigaddset(&stopSignals, signal);
    }
    sigset_t waitMask;
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    for (int signal : kStopSignals)
        sigdelset(&waitMask, signal);

    const std::string linkPath = parser.value(link).toStdString();
    std::unique_ptr<sim::Qv3310> instrument;
    try {
        instrument = std::make_unique<sim::Qv3310>(std::make_shared<sim::ScaledClock>(scale), faults);
    } catch (const std::invalid_argument &e) {
        usageError(QStringLiteral("--fault: %1").arg(QString::fromStdString(e.what())));
    }

    std::string linkedDevice;
    int status = 0;
    try {
        simserver::PtyServer::Options options;
        options.paced = !parser.isSet(fast);
        options.timeScale = scale;
        simserver::PtyServer server(*instrument, options);
        if (!linkPath.empty()) {
            createLink(linkPath, server.devicePath());
            linkedDevice = server.devicePath();
        }
        std::printf("%s\n", server.devicePath().c_str());
        std::fflush(stdout);
        server.serve(g_stop, waitMask);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qvscan-sim: %s\n", e.what());
        status = 1;
    }
    if (!linkedDevice.empty())
        removeLink(linkPath, linkedDevice);
    return status;
}
