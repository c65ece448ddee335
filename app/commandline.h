#pragma once

#include <optional>

#include <QString>
#include <QStringList>

#include "app/batch.h"
#include "sim/faults.h"
#include "visa/serialbackend.h"

struct CommandLineResult;

/// @brief What the command line asks for. Run with no options, the program behaves as it always has.
struct CommandLine
{
    bool simulate = false; ///< open every resource on the built-in simulated instrument
    QString address; ///< put in the address box at start instead of the default
    sim::Faults simFaults; ///< faults of the simulated instrument, for rehearsing errors
    bool batch = false; ///< one measurement without a window: lines to stdout, messages to stderr
    QString visaLibrary; ///< the VISA library to load instead of searching for one
    bool builtinIo = false; ///< use the built-in serial and GPIB I/O even when a VISA library is installed
    visa::SerialPortMap ports; ///< from "ASRLn=PATH" entries: the serial device of each port, for the built-in I/O
    bool trace = false; ///< every command and reply to standard error
    bool listResources = false; ///< no window: print the I/O library chosen and the resources present
    bool probe = false; ///< with listResources: ask each resource found for its identification
    QString output; ///< write each run's readings to this CSV file as they arrive

    /// Parses @p arguments, the program's name first. With --help, --version or a usage error the
    /// result holds what to print and the status to exit with instead of options.
    static CommandLineResult parse(const QStringList &arguments);
};

/// @brief What the command line asks for, or why the program ends before it starts.
struct CommandLineResult
{
    static constexpr int kUsageError = kBatchUsageError; ///< the exit status after a usage error, in every mode

    std::optional<CommandLine> options; ///< empty when the program ends at once
    int exitStatus = 0; ///< when it ends at once: 0 after --help and --version, else kUsageError
    /// What to print then, ending in a line feed: on standard output with status 0, else on
    /// standard error.
    QString message;
};
