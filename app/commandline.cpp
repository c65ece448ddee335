#include "app/commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/csvwriter.h"
#include "sim/faults.h"
#include "visa/serialbackend.h"

namespace {

[[noreturn]] void usageError(const QString &text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
    std::exit(2);
}

} // namespace

CommandLine CommandLine::parse(const QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate(
        "main", "Reads forty channels of a QV3310 data-acquisition unit over GPIB or RS-232.\n"
                "Real instruments are reached through the system VISA library when one is installed, "
                "otherwise through the built-in I/O (serial lines, and GPIB with linux-gpib)."));
    parser.addHelpOption();
    parser.addVersionOption();

    const QCommandLineOption simulate(QStringLiteral("simulate"),
                                      QCoreApplication::translate("main", "Use the built-in simulated QV3310 "
                                                                          "instead of real I/O."));
    const QCommandLineOption address(QStringLiteral("address"),
                                     QCoreApplication::translate("main", "Start with <address> in the address box."),
                                     QStringLiteral("address"));
    const QCommandLineOption simFault(
        QStringLiteral("sim-fault"),
        QCoreApplication::translate("main", "Give the simulated instrument a fault (repeatable):\n%1")
            .arg(QString::fromStdString(sim::Faults::help())),
        QStringLiteral("fault"));
    const QCommandLineOption batch(
        QStringLiteral("batch"),
        QCoreApplication::translate("main", "Make one measurement without a window: click \"Get Readings\", then "
                                            "\"Exit\". Listed lines go to standard output, messages to standard "
                                            "error; the exit status is 0 when readings were listed."));
    const QCommandLineOption visaLibrary(
        QStringLiteral("visa-library"),
        QCoreApplication::translate("main", "Use the VISA library at <path> instead of searching for one "
                                            "(QVSCAN_VISA_LIBRARY names one too; the search tries libvisa.so "
                                            "and the folders under /usr/local/vxipnp)."),
        QStringLiteral("path"));
    const QCommandLineOption builtinIo(
        QStringLiteral("builtin-io"),
        QCoreApplication::translate("main", "Use the built-in I/O even when a VISA library is installed: serial "
                                            "lines directly, GPIB through linux-gpib (libgpib.so.0)."));
    const QCommandLineOption port(
        QStringLiteral("port"),
        QCoreApplication::translate("main", "Serial port n of ASRLn is the device at PATH instead of "
                                            "/dev/ttyS(n-1), e.g. ASRL1=/dev/ttyUSB0 (repeatable; implies "
                                            "--builtin-io)."),
        QStringLiteral("ASRLn=PATH"));
    const QCommandLineOption trace(
        QStringLiteral("trace"),
        QCoreApplication::translate("main", "Write every command sent and every reply received to standard "
                                            "error, with the time since start and the resource."));
    const QCommandLineOption listResources(
        QStringLiteral("list-resources"),
        QCoreApplication::translate("main", "Print which I/O library would be used and why, the serial ports "
                                            "with their ASRL addresses and the GPIB boards that answer, then "
                                            "exit; no window is opened."));
    const QCommandLineOption probe(
        QStringLiteral("probe"),
        QCoreApplication::translate("main", "With --list-resources: send \"*IDN?\" to each resource found, with "
                                            "a short time-out, and print the reply or the failure."));
    const QCommandLineOption output(
        QStringLiteral("output"),
        QCoreApplication::translate("main", "Write the readings to the CSV file <file> as each one arrives, as "
                                            "\"Save Readings...\" writes them. In the window, a later run writes "
                                            "<file> with -2, -3, ... before its suffix."),
        QStringLiteral("file"));
    parser.addOptions({simulate, address, simFault, batch, visaLibrary, builtinIo, port, trace, output, listResources,
                       probe});

    if (!parser.parse(app.arguments()))
        usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        usageError(QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first()));

    CommandLine options;
    options.simulate = parser.isSet(simulate);
    options.address = parser.value(address);
    options.simFaults = parser.values(simFault);
    options.batch = parser.isSet(batch);
    options.visaLibrary = parser.value(visaLibrary);
    options.builtinIo = parser.isSet(builtinIo);
    options.ports = parser.values(port);
    options.trace = parser.isSet(trace);
    options.listResources = parser.isSet(listResources);
    options.probe = parser.isSet(probe);
    options.output = parser.value(output);

    if (options.probe && !options.listResources)
        usageError(QStringLiteral("--probe needs --list-resources"));
    if (options.listResources && options.batch)
        usageError(QStringLiteral("--list-resources cannot be combined with --batch"));
    if (!options.simFaults.isEmpty() && !options.simulate)
        usageError(QStringLiteral("--sim-fault needs --simulate"));
    if (options.simulate && (parser.isSet(visaLibrary) || options.builtinIo || !options.ports.isEmpty()))
        usageError(QStringLiteral("--simulate cannot be combined with --visa-library, --builtin-io or --port"));
    if (parser.isSet(visaLibrary) && (options.builtinIo || !options.ports.isEmpty()))
        usageError(QStringLiteral("--visa-library cannot be combined with --builtin-io or --port"));
    if (parser.isSet(visaLibrary) && options.visaLibrary.isEmpty())
        usageError(QStringLiteral("--visa-library needs a path"));
    try {
        std::vector<std::string> faults;
        for (const QString &fault : options.simFaults)
            faults.push_back(fault.toStdString());
        sim::Faults::parse(faults);
    } catch (const std::invalid_argument &e) {
        usageError(QStringLiteral("--sim-fault: %1").arg(QString::fromStdString(e.what())));
    }
    if (parser.isSet(output) && options.output.isEmpty())
        usageError(QStringLiteral("--output needs a file name"));
    if (const QString reason = safefile::refusal(options.output); !options.output.isEmpty() && !reason.isEmpty())
        usageError(QStringLiteral("--output: %1: %2").arg(options.output, reason));
    for (const QString &entry : options.ports) {
        try {
            visa::SerialPortMap::parseEntry(entry.toStdString());
        } catch (const std::invalid_argument &e) {
            usageError(QStringLiteral("--port: %1").arg(QString::fromStdString(e.what())));
        }
    }
    return options;
}
