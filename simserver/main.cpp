// qvscan-sim: the simulated QV3310 on a pseudo-terminal, so any program (qvscan with its
// built-in serial I/O, a VISA library, a terminal emulator) can reach it as a serial instrument.

#include <QCommandLineParser>
#include <QCoreApplication>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
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

/// Makes @p link a symbolic link to @p target. An existing symbolic link is replaced (it is most
/// likely left from an earlier run); anything else at that path is left alone and refused.
void createLink(const std::string &link, const std::string &target)
{
    struct stat existing{};
    if (lstat(link.c_str(), &existing) == 0) {
        if (!S_ISLNK(existing.st_mode))
            throw std::runtime_error("cannot create link " + link + ": something other than a link is there");
        if (unlink(link.c_str()) != 0)
            throw std::runtime_error("cannot replace link " + link + ": " + std::strerror(errno));
    }
    if (symlink(target.c_str(), link.c_str()) != 0)
        throw std::runtime_error("cannot create link " + link + " to " + target + ": " + std::strerror(errno));
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
        "standard output. Commands end with LF or CR LF; replies end with CR LF. Ends on SIGINT or SIGTERM."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption link(QStringLiteral("link"),
                                  QStringLiteral("Also make <path> a symbolic link to the device (removed at the end)."),
                                  QStringLiteral("path"));
    const QCommandLineOption fault(QStringLiteral("fault"),
                                   QStringLiteral("Give the instrument a fault (repeatable):\n%1")
                                       .arg(QString::fromStdString(sim::Faults::help())),
                                   QStringLiteral("name"));
    parser.addOptions({link, fault});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "qvscan-sim: unexpected argument: %s\n", qPrintable(parser.positionalArguments().first()));
        return 2;
    }

    sim::Faults faults;
    try {
        std::vector<std::string> items;
        for (const QString &item : parser.values(fault))
            items.push_back(item.toStdString());
        faults = sim::Faults::parse(items);
    } catch (const std::invalid_argument &e) {
        std::fprintf(stderr, "qvscan-sim: --fault: %s\n", e.what());
        return 2;
    }

    // SIGINT and SIGTERM are blocked except while the server waits, so they only end the wait.
    struct sigaction action{};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigset_t stopSignals;
    sigset_t waitMask;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);

    const std::string linkPath = parser.value(link).toStdString();
    bool linked = false;
    int status = 0;
    try {
        sim::Qv3310 instrument(std::make_shared<sim::RealClock>(), faults);
        simserver::PtyServer server(instrument);
        if (!linkPath.empty()) {
            createLink(linkPath, server.devicePath());
            linked = true;
        }
        std::printf("%s\n", server.devicePath().c_str());
        std::fflush(stdout);
        server.serve(g_stop, waitMask);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qvscan-sim: %s\n", e.what());
        status = 1;
    }
    if (linked)
        unlink(linkPath.c_str());
    return status;
}
