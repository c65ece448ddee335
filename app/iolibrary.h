#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "visa/session.h"

struct CommandLine;

/// @brief Where makeIoLibrary looks for I/O libraries and where it writes; tests replace them.
struct IoLibraryPlaces
{
    std::vector<std::string> visaLibraryNames; ///< searched in order when no --visa-library is given
    std::string gpibLibrary; ///< linux-gpib, for the built-in GPIB I/O
    std::ostream *trace = nullptr; ///< where --trace writes
    std::ostream *notes = nullptr; ///< where a VISA library that was found but could not be used is reported

    /// The system's: the usual VISA library names, libgpib.so.0, standard error.
    static IoLibraryPlaces system();
};

/// The I/O library the command line asks for: the simulated instrument with --simulate; the VISA
/// library named by --visa-library; the built-in I/O with --builtin-io or --port; otherwise the
/// first VISA library found, or the built-in I/O when there is none. --trace wraps the choice in
/// a trace. Throws std::runtime_error naming what could not be set up.
std::shared_ptr<visa::Backend> makeIoLibrary(const CommandLine &options,
                                             const IoLibraryPlaces &places = IoLibraryPlaces::system());
