#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "visa/session.h"
#include "visa/systemvisa.h"

struct CommandLine;

/// @brief Where makeIoLibrary looks for I/O libraries and where it writes; tests replace them.
struct IoLibraryPlaces
{
    std::vector<std::string> visaLibraryNames; ///< searched in order when no --visa-library is given
    std::string gpibLibrary; ///< linux-gpib, for the built-in GPIB I/O
    std::ostream *trace = nullptr; ///< where --trace writes
    std::ostream *notes = nullptr; ///< where a VISA library that was found but could not be used is reported
    std::string visaLibraryVariable; ///< the value of QVSCAN_VISA_LIBRARY; empty when it is not set

    /// The system's: the standard VISA library names, libgpib.so.0, standard error, the environment.
    static IoLibraryPlaces system();
};

/// @brief Which I/O library makeIoLibrary chose and why, for --list-resources and the trace.
struct IoChoice
{
    std::string library; ///< "VISA library /usr/lib/libvisa.so", "built-in I/O", "simulated QV3310"
    std::string why; ///< "named by --visa-library", "no VISA library found", ...
    std::vector<visa::LibraryAttempt> visaTried; ///< each VISA library the search tried
};

/// The I/O library the command line asks for: the simulated instrument with --simulate; the VISA
/// library named by --visa-library; the built-in I/O with --builtin-io or --port; otherwise the
/// first VISA library found, or the built-in I/O when there is none. --trace wraps the choice in
/// a trace, whose first line names the library chosen. Without --visa-library and the built-in
/// options, QVSCAN_VISA_LIBRARY names the VISA library before the search. What was chosen and why
/// goes to @p choice when given. Throws RoutineError naming what could not be set up.
std::shared_ptr<visa::Backend> makeIoLibrary(const CommandLine &options,
                                             const IoLibraryPlaces &places = IoLibraryPlaces::system(),
                                             IoChoice *choice = nullptr);
