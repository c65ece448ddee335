#include "app/commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <stdexcept>
#include <string>
#include <vector>

#include "app/csvwriter.h"

namespace {

CommandLineResult usageError(const QString &text)
{
    return {std::nullopt, CommandLineResult::kUsageError, text + QLatin1Char('\n')};
}

} // namespace

CommandLineResult CommandLine::parse(const QStringList &arguments)
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

    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    // What QCommandLineParser's showHelp() and showVersion() print, without their exit().
    if (parser.isSet(QStringLiteral("help")))
        return {std::nullopt, 0, parser.helpText()};
    if (parser.isSet(QStringLiteral("version")))
        return {std::nullopt, 0,
                QCoreApplication::applicationName() + QLatin1Char(' ') + QCoreApplication::applicationVersion()
                    + QLatin1Char('\n')};
    if (!parser.positionalArguments().isEmpty())
        return usageError(QCoreApplication::translate(
            "main", "unexpected argument: %1").arg(parser.positionalArguments().first()));

    CommandLine options;
    options.simulate = parser.isSet(simulate);
    options.address = parser.value(address);
    options.batch = parser.isSet(batch);
    options.visaLibrary = parser.value(visaLibrary);
    options.builtinIo = parser.isSet(builtinIo);
    options.trace = parser.isSet(trace);
    options.listResources = parser.isSet(listResources);
    options.probe = parser.isSet(probe);
    options.output = parser.value(output);

    if (options.probe && !options.listResources)
        return usageError(QCoreApplication::translate("main", "--probe needs --list-resources"));
    if (options.listResources && options.batch)
        return usageError(QCoreApplication::translate("main", "--list-resources cannot be combined with --batch"));
    if (parser.isSet(simFault) && !options.simulate)
        return usageError(QCoreApplication::translate("main", "--sim-fault needs --simulate"));
    if (options.simulate && (parser.isSet(visaLibrary) || options.builtinIo || parser.isSet(port)))
        return usageError(QCoreApplication::translate(
            "main", "--simulate cannot be combined with --visa-library, --builtin-io or --port"));
    if (parser.isSet(visaLibrary) && (options.builtinIo || parser.isSet(port)))
        return usageError(QCoreApplication::translate(
            "main", "--visa-library cannot be combined with --builtin-io or --port"));
    if (parser.isSet(visaLibrary) && options.visaLibrary.isEmpty())
        return usageError(QCoreApplication::translate("main", "--visa-library needs a path"));
    try {
        std::vector<std::string> faults;
        for (const QString &fault : parser.values(simFault))
            faults.push_back(fault.toStdString());
        options.simFaults = sim::Faults::parse(faults);
    } catch (const std::invalid_argument &e) {
        return usageError(QCoreApplication::translate("main", "--sim-fault: %1").arg(QString::fromStdString(e.what())));
    }
    if (parser.isSet(output) && options.output.isEmpty())
        return usageError(QCoreApplication::translate("main", "--output needs a file name"));
    if (const QString reason = safefile::refusal(options.output); !options.output.isEmpty() && !reason.isEmpty())
        return usageError(QCoreApplication::translate("main", "--output: %1: %2").arg(options.output, reason));
    for (const QString &entry : parser.values(port)) {
        try {
            const auto [number, path] = visa::SerialPortMap::parseEntry(entry.toStdString());
            options.ports.set(number, path);
        } catch (const std::invalid_argument &e) {
            return usageError(QCoreApplication::translate("main", "--port: %1").arg(QString::fromStdString(e.what())));
        }
    }
    return {std::move(options), 0, {}};
}
