#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "app/iolibrary.h"

struct CommandLine;

/// @brief One serial port as the system reports it.
struct SerialPortEntry
{
    std::string device; ///< "/dev/ttyUSB0"
    std::string description;
    std::string maker;
    std::string serialNumber;
};

/// The serial ports the system reports (QSerialPortInfo).
std::vector<SerialPortEntry> systemSerialPorts();

/// @brief Where --list-resources looks; tests replace the parts.
struct ListingPlaces
{
    IoLibraryPlaces io = IoLibraryPlaces::system();
    std::function<std::vector<SerialPortEntry>()> serialPorts = systemSerialPorts;
    unsigned gpibBoards = 4; ///< boards 0 .. gpibBoards - 1 are looked for
};

/// --list-resources: prints to @p out which I/O library the options choose and why (every VISA
/// library tried, linux-gpib found or not), the serial ports with the ASRL address each maps to,
/// the GPIB boards that answer with their listeners, and with --probe the reply of each resource
/// found to "*IDN?". Under --simulate, the simulated instrument's resources. Returns the exit
/// status: 0 when the listing worked, 1 when the I/O library could not be set up.
int listResources(const CommandLine &options, const ListingPlaces &places, std::ostream &out);
