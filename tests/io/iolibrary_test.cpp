#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "app/commandline.h"
#include "app/iolibrary.h"
#include "sim/simulatedbackend.h"
#include "visa/builtinbackend.h"
#include "visa/systemvisa.h"
#include "visa/tracingbackend.h"
#include "visa/visaerror.h"

namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

enum class Kind { Simulated, SystemVisa, Builtin };

Kind kindOf(const std::shared_ptr<visa::Backend> &backend)
{
    if (std::dynamic_pointer_cast<sim::SimulatedBackend>(backend))
        return Kind::Simulated;
    if (std::dynamic_pointer_cast<visa::SystemVisaBackend>(backend))
        return Kind::SystemVisa;
    EXPECT_NE(std::dynamic_pointer_cast<visa::BuiltinBackend>(backend), nullptr);
    return Kind::Builtin;
}

class IoLibraryTest : public ::testing::Test
{
protected:
    IoLibraryPlaces places{{"/nonexistent/libvisa.so", FAKEVISA_NOCLEAR_PATH, FAKEVISA_PATH}, FAKEGPIB_PATH, &trace, &notes};
    std::ostringstream trace;
    std::ostringstream notes;
};

TEST_F(IoLibraryTest, TheCommandLineChoosesTheBackend)
{
    struct Case
    {
        const char *name;
        CommandLine options;
        std::vector<std::string> visaNames;
        Kind expected;
    };
    CommandLine simulate;
    simulate.simulate = true;
    CommandLine builtin;
    builtin.builtinIo = true;
    CommandLine port;
    port.ports = {QStringLiteral("ASRL1=/dev/pts/9")};
    CommandLine named;
    named.visaLibrary = QStringLiteral(FAKEVISA_PATH);
    const Case cases[] = {
        {"--simulate", simulate, places.visaLibraryNames, Kind::Simulated},
        {"--builtin-io, with a VISA library installed", builtin, places.visaLibraryNames, Kind::Builtin},
        {"--port implies the built-in I/O", port, places.visaLibraryNames, Kind::Builtin},
        {"--visa-library, with nothing installed", named, {}, Kind::SystemVisa},
        {"no option, a VISA library installed", {}, places.visaLibraryNames, Kind::SystemVisa},
        {"no option, no VISA library installed", {}, {"/nonexistent/libvisa.so"}, Kind::Builtin},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        IoLibraryPlaces where = places;
        where.visaLibraryNames = c.visaNames;
        EXPECT_EQ(kindOf(makeIoLibrary(c.options, where)), c.expected);
    }
}

TEST_F(IoLibraryTest, TheSearchReportsAnInstalledLibraryItCannotUse)
{
    auto backend = std::dynamic_pointer_cast<visa::SystemVisaBackend>(makeIoLibrary({}, places));
    ASSERT_NE(backend, nullptr);
    EXPECT_EQ(backend->libraryPath(), FAKEVISA_PATH);
    EXPECT_THAT(notes.str(), AllOf(HasSubstr(FAKEVISA_NOCLEAR_PATH), HasSubstr("viClear")));
}

TEST_F(IoLibraryTest, ANamedLibraryThatCannotBeUsedIsAnError)
{
    const std::pair<const char *, const char *> cases[] = {
        {"/nonexistent/libvisa.so", "cannot load /nonexistent/libvisa.so"},
        {FAKEVISA_NOCLEAR_PATH, "has no function viClear"},
    };
    for (const auto &[path, reason] : cases) {
        CommandLine options;
        options.visaLibrary = QString::fromUtf8(path);
        EXPECT_THAT([&] { makeIoLibrary(options, places); },
                    ThrowsMessage<std::runtime_error>(AllOf(HasSubstr("--visa-library"), HasSubstr(reason))));
    }
}

TEST_F(IoLibraryTest, TraceWrapsWhicheverBackendWasChosen)
{
    CommandLine options;
    options.simulate = true;
    options.trace = true;
    auto traced = std::dynamic_pointer_cast<visa::TracingBackend>(makeIoLibrary(options, places));
    ASSERT_NE(traced, nullptr);
    EXPECT_EQ(kindOf(traced->inner()), Kind::Simulated);

    auto session = traced->open(visa::ResourceName::parse("GPIB0::9"), {});
    session->Write("*IDN?\n", true);
    session->Read();
    EXPECT_THAT(trace.str(), AllOf(HasSubstr("GPIB0::9::INSTR > *IDN?\\n"), HasSubstr("GPIB0::9::INSTR < QVTEK,QV3310")));
}

TEST_F(IoLibraryTest, TheBuiltinGpibIoUsesTheGivenLinuxGpib)
{
    CommandLine options;
    options.builtinIo = true;
    EXPECT_NO_THROW(makeIoLibrary(options, places)->open(visa::ResourceName::parse("GPIB0::9"), {}));
    places.gpibLibrary = "/nonexistent/libgpib.so.0";
    EXPECT_THAT([&] { makeIoLibrary(options, places)->open(visa::ResourceName::parse("GPIB0::9"), {}); },
                ThrowsMessage<visa::VisaError>(HasSubstr("GPIB needs linux-gpib")));
}

} // namespace
