#include "app/iolibrary.h"

#include <iostream>
#include <stdexcept>

#include "app/commandline.h"
#include "sim/clock.h"
#include "sim/faults.h"
#include "sim/qv3310.h"
#include "sim/simulatedbackend.h"
#include "visa/builtinbackend.h"
#include "visa/gpibbackend.h"
#include "visa/systemvisa.h"
#include "visa/tracingbackend.h"

namespace {

std::shared_ptr<visa::Backend> simulatedInstrument(const CommandLine &options)
{
    std::vector<std::string> faults;
    for (const QString &fault : options.simFaults)
        faults.push_back(fault.toStdString());
    auto instrument = std::make_shared<sim::Qv3310>(std::make_shared<sim::RealClock>(), sim::Faults::parse(faults));
    return std::make_shared<sim::SimulatedBackend>(std::move(instrument));
}

std::shared_ptr<visa::Backend> builtinIo(const CommandLine &options, const IoLibraryPlaces &places)
{
    visa::SerialPortMap ports;
    for (const QString &entry : options.ports) {
        try {
            const auto [port, path] = visa::SerialPortMap::parseEntry(entry.toStdString());
            ports.set(port, path);
        } catch (const std::invalid_argument &e) {
            throw std::runtime_error(std::string("--port: ") + e.what());
        }
    }
    return std::make_shared<visa::BuiltinBackend>(std::move(ports), places.gpibLibrary);
}

std::shared_ptr<visa::Backend> realIo(const CommandLine &options, const IoLibraryPlaces &places)
{
    if (!options.visaLibrary.isEmpty()) {
        try {
            return visa::SystemVisaBackend::load(options.visaLibrary.toStdString());
        } catch (const std::runtime_error &e) {
            throw std::runtime_error(std::string("--visa-library: ") + e.what());
        }
    }
    if (options.builtinIo || !options.ports.isEmpty())
        return builtinIo(options, places);

    std::vector<std::string> skipped;
    auto visa = visa::SystemVisaBackend::findInstalled(places.visaLibraryNames, &skipped);
    if (places.notes)
        for (const std::string &why : skipped)
            *places.notes << "qvscan: not using a VISA library: " << why << '\n';
    if (visa)
        return visa;
    return builtinIo(options, places);
}

} // namespace

IoLibraryPlaces IoLibraryPlaces::system()
{
    return {visa::SystemVisaBackend::libraryNames(), visa::GpibBackend::kDefaultLibrary, &std::cerr, &std::cerr};
}

std::shared_ptr<visa::Backend> makeIoLibrary(const CommandLine &options, const IoLibraryPlaces &places)
{
    std::shared_ptr<visa::Backend> backend = options.simulate ? simulatedInstrument(options) : realIo(options, places);
    if (options.trace && places.trace)
        backend = std::make_shared<visa::TracingBackend>(std::move(backend), *places.trace);
    return backend;
}
