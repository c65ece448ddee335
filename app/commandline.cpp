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

/// The options, in the order --help lists them: name, help (translated in the context "main"),
/// the name of its value when it takes one, and whether its help ends with the fault list.
struct OptionRow
{
    const char *name;
    const char *help;
    const char *value = nullptr;
    bool listsFaults = false;
};

constexpr OptionRow kOptions[] = {
    {"simulate", QT_TRANSLATE_NOOP("main", "Use the built-in simulated QV3310 instead of real I/O.")},
    {"address", QT_TRANSLATE_NOOP("main", "Start with <address> in the address box."), "address"},
    {"sim-fault", QT_TRANSLATE_NOOP("main", "Give the simulated instrument a fault (repeatable):\n%1"), "fault", true},
    {"batch",
     QT_TRANSLATE_NOOP(
         "main", "Make one measurement without a window: click \"Get Readings\", then \"Exit\". Listed lines go to "
                 "standard output, messages to standard error; the exit status is 0 when readings were listed.")},
    {"visa-library",
     QT_TRANSLATE_NOOP("main", "Use the VISA library at <path> instead of searching for one (QVSCAN_VISA_LIBRARY names "
                               "one too; the search tries libvisa.so and the folders under /usr/local/vxipnp)."),
     "path"},
    {"builtin-io", QT_TRANSLATE_NOOP("main", "Use the built-in I/O even when a VISA library is installed: serial lines "
                                             "directly, GPIB through linux-gpib (libgpib.so.0).")},
    {"port",
     QT_TRANSLATE_NOOP("main", "Serial port n of ASRLn is the device at PATH instead of /dev/ttyS(n-1), e.g. "
                               "ASRL1=/dev/ttyUSB0 (repeatable; implies --builtin-io)."),
     "ASRLn=PATH"},
    {"trace", QT_TRANSLATE_NOOP("main", "Write every command sent and every reply received to standard error, with the "
                                        "time since start and the resource.")},
    {"output",
     QT_TRANSLATE_NOOP("main",
                       "Write the readings to the CSV file <file> as each one arrives, as \"Save Readings...\" writes "
                       "them. In the window, a later run writes <file> with -2, -3, ... before its suffix."),
     "file"},
    {"list-resources",
     QT_TRANSLATE_NOOP("main", "Print which I/O library would be used and why, the serial ports with their ASRL "
                               "addresses and the GPIB boards that answer, then exit; no window is opened.")},
    {"probe", QT_TRANSLATE_NOOP("main", "With --list-resources: send \"*IDN?\" to each resource found, with a short "
                                        "time-out, and print the reply or the failure.")},
};

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

    for (const OptionRow &row : kOptions) {
        QString help = QCoreApplication::translate("main", row.help);
        if (row.listsFaults)
            help = help.arg(QString::fromStdString(sim::Faults::help()));
        parser.addOption(
            QCommandLineOption(QLatin1String(row.name), help, row.value ? QLatin1String(row.value) : QString()));
    }
    const auto isSet = [&parser](const char *name) { return parser.isSet(QLatin1String(name)); };
    const auto value = [&parser](const char *name) { return parser.value(QLatin1String(name)); };
    const auto values = [&parser](const char *name) { return parser.values(QLatin1String(name)); };

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
        return usageError(
            QCoreApplication::translate("main", "unexpected argument: %1").arg(parser.positionalArguments().first()));

    CommandLine options;
    options.simulate = isSet("simulate");
    options.address = value("address");
    options.batch = isSet("batch");
    options.visaLibrary = value("visa-library");
    options.builtinIo = isSet("builtin-io");
    options.trace = isSet("trace");
    options.listResources = isSet("list-resources");
    options.probe = isSet("probe");
    options.output = value("output");

    if (options.probe && !options.listResources)
        return usageError(QCoreApplication::translate("main", "--probe needs --list-resources"));
    if (options.listResources && options.batch)
        return usageError(QCoreApplication::translate("main", "--list-resources cannot be combined with --batch"));
    if (isSet("sim-fault") && !options.simulate)
        return usageError(QCoreApplication::translate("main", "--sim-fault needs --simulate"));
    if (options.simulate && (isSet("visa-library") || options.builtinIo || isSet("port")))
        return usageError(QCoreApplication::translate(
            "main", "--simulate cannot be combined with --visa-library, --builtin-io or --port"));
    if (isSet("visa-library") && (options.builtinIo || isSet("port")))
        return usageError(
            QCoreApplication::translate("main", "--visa-library cannot be combined with --builtin-io or --port"));
    if (isSet("visa-library") && options.visaLibrary.isEmpty())
        return usageError(QCoreApplication::translate("main", "--visa-library needs a path"));
    try {
        std::vector<std::string> faults;
        for (const QString &fault : values("sim-fault"))
            faults.push_back(fault.toStdString());
        options.simFaults = sim::Faults::parse(faults);
    } catch (const std::invalid_argument &e) {
        return usageError(QCoreApplication::translate("main", "--sim-fault: %1").arg(QString::fromStdString(e.what())));
    }
    if (isSet("output") && options.output.isEmpty())
        return usageError(QCoreApplication::translate("main", "--output needs a file name"));
    if (const QString reason = safefile::refusal(options.output); !options.output.isEmpty() && !reason.isEmpty())
        return usageError(QCoreApplication::translate("main", "--output: %1: %2").arg(options.output, reason));
    for (const QString &entry : values("port")) {
        try {
            const auto [number, path] = visa::SerialPortMap::parseEntry(entry.toStdString());
            options.ports.set(number, path);
        } catch (const std::invalid_argument &e) {
            return usageError(QCoreApplication::translate("main", "--port: %1").arg(QString::fromStdString(e.what())));
        }
    }
    return {std::move(options), 0, {}};
}
