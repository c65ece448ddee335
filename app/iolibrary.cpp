#include "app/iolibrary.h"

#include <iostream>
#include <stdexcept>

#include <QCoreApplication>

#include "app/commandline.h"
#include "app/routineerror.h"
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
    auto instrument = std::make_shared<sim::Qv3310>(std::make_shared<sim::RealClock>(), options.simFaults);
    return std::make_shared<sim::SimulatedBackend>(std::move(instrument));
}

std::shared_ptr<visa::Backend> builtinIo(const CommandLine &options, const IoLibraryPlaces &places)
{
    return std::make_shared<visa::BuiltinBackend>(options.ports, places.gpibLibrary);
}

std::shared_ptr<visa::Backend> namedVisa(const std::string &path, const char *namedBy, IoChoice &choice)
{
    try {
        auto visa = visa::SystemVisaBackend::load(path);
        choice = {"VISA library " + path, std::string("named by ") + namedBy, {}};
        return visa;
    } catch (const std::runtime_error &e) {
        // Says which setting named the library that could not be used: an option or the variable.
        fail(QCoreApplication::translate("makeIoLibrary", "%1: %2")
                 .arg(QString::fromLatin1(namedBy), QString::fromStdString(e.what())));
    }
}

std::shared_ptr<visa::Backend> realIo(const CommandLine &options, const IoLibraryPlaces &places, IoChoice &choice)
{
    if (!options.visaLibrary.isEmpty())
        return namedVisa(options.visaLibrary.toStdString(), "--visa-library", choice);
    const std::string builtin = "built-in I/O (serial lines directly, GPIB through linux-gpib)";
    if (options.builtinIo || !options.ports.mapped().empty()) {
        choice = {builtin, options.builtinIo ? "--builtin-io" : "--port implies --builtin-io", {}};
        return builtinIo(options, places);
    }
    if (!places.visaLibraryVariable.empty())
        return namedVisa(places.visaLibraryVariable, "QVSCAN_VISA_LIBRARY", choice);

    std::vector<std::string> skipped;
    std::vector<visa::LibraryAttempt> tried;
    auto visa = visa::SystemVisaBackend::findInstalled(places.visaLibraryNames, &skipped, &tried);
    if (places.notes)
        for (const std::string &why : skipped)
            *places.notes << "qvscan: not using a VISA library: " << why << '\n';
    if (visa) {
        choice = {"VISA library " + visa->libraryPath(), "the first VISA library the search found", tried};
        return visa;
    }
    choice = {builtin, "the search found no usable VISA library", tried};
    return builtinIo(options, places);
}

} // namespace

IoLibraryPlaces IoLibraryPlaces::system()
{
    return {visa::SystemVisaBackend::libraryNames(), visa::GpibBackend::kDefaultLibrary, &std::cerr, &std::cerr,
            qEnvironmentVariable("QVSCAN_VISA_LIBRARY").toStdString()};
}

std::shared_ptr<visa::Backend> makeIoLibrary(const CommandLine &options, const IoLibraryPlaces &places,
                                             IoChoice *choice)
{
    IoChoice chosen{"simulated QV3310", "--simulate", {}};
    std::shared_ptr<visa::Backend> backend = options.simulate ? simulatedInstrument(options)
                                                              : realIo(options, places, chosen);
    if (options.trace && places.trace) {
        *places.trace << "I/O library: " << chosen.library << " (" << chosen.why << ")\n";
        backend = std::make_shared<visa::TracingBackend>(std::move(backend), *places.trace);
    }
    if (choice)
        *choice = std::move(chosen);
    return backend;
}
