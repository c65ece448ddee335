#pragma once

#include <QString>
#include <QStringList>

class QCoreApplication;

/// @brief What the command line asks for. Run with no options, the program behaves as it always has.
struct CommandLine
{
    bool simulate = false; ///< open every resource on the built-in simulated instrument
    QString address; ///< put in the address box at start instead of the default
    QStringList simFaults; ///< faults of the simulated instrument, for rehearsing errors
    bool batch = false; ///< one measurement without a window: lines to stdout, messages to stderr
    QString visaLibrary; ///< the VISA library to load instead of searching for one
    bool builtinIo = false; ///< use the built-in serial and GPIB I/O even when a VISA library is installed
    QStringList ports; ///< "ASRLn=PATH" entries: the serial device of each port, for the built-in I/O
    bool trace = false; ///< every command and reply to standard error
    bool listResources = false; ///< no window: print the I/O library chosen and the resources present
    bool probe = false; ///< with listResources: ask each resource found for its identification
    QString output; ///< write each run's readings to this CSV file as they arrive

    /// Parses the arguments of @p app. --help and --version print and exit; a usage error prints
    /// the reason and exits with status 2.
    static CommandLine parse(const QCoreApplication &app);
};
