#include "app/resourcelisting.h"

#include <QSerialPortInfo>

#include <filesystem>
#include <optional>
#include <ostream>
#include <stdexcept>

#include "app/commandline.h"
#include "sim/simulatedbackend.h"
#include "visa/formattedio.h"
#include "visa/gpibbackend.h"
#include "visa/resourcemanager.h"
#include "visa/serialbackend.h"
#include "visa/sharedlibrary.h"
#include "visa/visaerror.h"
#include "visa/visibletext.h"

namespace {

// The program's own serial settings with a short time-out: an instrument set up for qvscan answers.
constexpr const char *kSerialProbeOptions =
    "Timeout = 1000 ; SendEndEnabled = TRUE ; TerminationCharacter = 10 ; TerminationCharacterEnabled = TRUE ; "
    "BaudRate = 115200 ; DataBits = 8 ; EndIn = ASRL_END_TERMCHAR ; EndOut = ASRL_END_NONE ; "
    "FlowControl = ASRL_FLOW_XON_XOFF ; Parity = ASRL_PAR_NONE ; StopBits = ASRL_STOP_ONE";
constexpr const char *kGpibProbeOptions = "Timeout = 1000";

std::string asrl(unsigned port)
{
    return "ASRL" + std::to_string(port) + "::INSTR";
}

std::string attemptText(const visa::LibraryAttempt &attempt)
{
    switch (attempt.result) {
    case visa::LibraryAttempt::Result::NotFound: {
        // The loader's text repeats the name; once is enough.
        const std::string prefix = "cannot load " + attempt.name + ": ";
        return "not found ("
               + (attempt.reason.starts_with(prefix) ? attempt.reason.substr(prefix.size()) : attempt.reason) + ")";
    }
    case visa::LibraryAttempt::Result::Unusable: return "skipped: " + attempt.reason;
    case visa::LibraryAttempt::Result::Chosen: return "found, used";
    }
    return {};
}

void listSerialPorts(const CommandLine &options, const ListingPlaces &places, std::ostream &out,
                     std::vector<std::string> &resources)
{
    const visa::SerialPortMap &ports = options.ports;
    out << "Serial ports:\n";
    const std::vector<SerialPortEntry> present = places.serialPorts();
    for (const SerialPortEntry &entry : present) {
        const std::optional<unsigned> port = ports.portOf(entry.device);
        out << "  " << entry.device << ": "
            << (port ? asrl(*port) : std::string("no ASRL address (map one with --port)"));
        for (const auto &[label, value] :
             {std::pair<const char *, const std::string &>{"description", entry.description},
              {"maker", entry.maker},
              {"serial number", entry.serialNumber}})
            if (!value.empty())
                out << ", " << label << " " << value;
        out << '\n';
        if (port && !ports.mapped().count(*port))
            resources.push_back(asrl(*port));
    }
    for (const auto &[port, path] : ports.mapped()) {
        const std::string device = visa::absoluteDevicePath(path);
        std::error_code error;
        const bool exists = std::filesystem::exists(device, error);
        out << "  " << device << ": " << asrl(port) << " (--port" << (exists ? "" : "; no such device") << ")\n";
        if (exists)
            resources.push_back(asrl(port));
    }
    if (present.empty() && ports.mapped().empty())
        out << "  none found\n";
}

void listGpib(const ListingPlaces &places, std::ostream &out, std::vector<std::string> &resources)
{
    out << "GPIB boards (through linux-gpib):\n";
    try {
        visa::GpibBackend gpib(places.io.gpibLibrary);
        const std::vector<visa::GpibBackend::Board> boards = gpib.findBoards(places.gpibBoards);
        for (const visa::GpibBackend::Board &board : boards) {
            out << "  GPIB" << board.index << ": answers";
            if (!board.note.empty())
                out << "; " << board.note;
            else if (board.listeners.empty())
                out << "; no listener at addresses 1 to 30";
            out << '\n';
            for (const unsigned pad : board.listeners) {
                const std::string name = "GPIB" + std::to_string(board.index) + "::" + std::to_string(pad) + "::INSTR";
                out << "    " << name << '\n';
                resources.push_back(name);
            }
        }
        if (boards.empty())
            out << "  none answers (is the board configured with gpib_config?)\n";
    } catch (const std::runtime_error &e) {
        out << "  not looked for: " << e.what() << '\n';
    }
}

void probe(const std::shared_ptr<visa::Backend> &backend, const std::vector<std::string> &resources, std::ostream &out)
{
    out << "Probe (\"*IDN?\"):\n";
    visa::ResourceManager rm(backend);
    for (const std::string &resource : resources) {
        out << "  " << resource << ": ";
        try {
            const bool serial = resource.starts_with("ASRL");
            visa::FormattedIO488 instr;
            instr.IO = rm.Open(resource, -1, -1, serial ? kSerialProbeOptions : kGpibProbeOptions);
            instr.WriteString("*IDN?");
            std::string reply = instr.ReadString();
            while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r'))
                reply.pop_back();
            instr.IO->Close();
            out << visa::visibleText(reply) << '\n';
        } catch (const std::exception &e) {
            out << "no answer: " << e.what() << '\n';
        }
    }
    if (resources.empty())
        out << "  nothing to ask\n";
}

} // namespace

std::vector<SerialPortEntry> systemSerialPorts()
{
    std::vector<SerialPortEntry> ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        ports.push_back({info.systemLocation().toStdString(), info.description().toStdString(),
                         info.manufacturer().toStdString(), info.serialNumber().toStdString()});
    return ports;
}

int listResources(const CommandLine &options, const ListingPlaces &places, std::ostream &out)
{
    IoChoice choice;
    std::shared_ptr<visa::Backend> backend;
    try {
        backend = makeIoLibrary(options, places.io, &choice);
    } catch (const std::exception &e) {
        out << "I/O library: none could be set up: " << e.what() << '\n';
        return 1;
    }
    out << "I/O library: " << choice.library << " (" << choice.why << ")\n";

    std::vector<std::string> resources;
    if (options.simulate) {
        out << "Simulated resources:\n";
        for (const std::string &name : {"GPIB" + std::to_string(sim::SimulatedBackend::kGpibBoard)
                                            + "::" + std::to_string(sim::SimulatedBackend::kGpibAddress) + "::INSTR",
                                        asrl(sim::SimulatedBackend::kSerialPort)}) {
            out << "  " << name << '\n';
            resources.push_back(name);
        }
    } else {
        if (!choice.visaTried.empty()) {
            out << "VISA libraries tried:\n";
            for (const visa::LibraryAttempt &attempt : choice.visaTried)
                out << "  " << attempt.name << ": " << attemptText(attempt) << '\n';
        }
        try {
            visa::SharedLibrary::open(places.io.gpibLibrary);
            out << "linux-gpib (" << places.io.gpibLibrary << "): found\n";
        } catch (const std::runtime_error &e) {
            out << "linux-gpib (" << places.io.gpibLibrary << "): not found (" << e.what() << ")\n";
        }
        listSerialPorts(options, places, out, resources);
        listGpib(places, out, resources);
    }
    if (options.probe)
        probe(backend, resources, out);
    return 0;
}
