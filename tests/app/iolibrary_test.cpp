#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include <QCoreApplication>

#include "app/commandline.h"
#include "app/iolibrary.h"
#include "app/resourcelisting.h"
#include "app/routineerror.h"
#include "support/fakelibrary.h"
#include "sim/simulatedbackend.h"
#include "visa/builtinbackend.h"
#include "visa/systemvisa.h"
#include "visa/tracingbackend.h"
#include "visa/visaerror.h"

namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
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
    IoLibraryPlaces places{
        {"/nonexistent/libvisa.so", FAKEVISA_NOCLEAR_PATH, FAKEVISA_PATH}, FAKEGPIB_PATH, &trace, &notes, {}};
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
    port.ports.set(1, "/dev/pts/9");
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
                    ThrowsMessage<RoutineError>(AllOf(HasSubstr("--visa-library"), HasSubstr(reason))));
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
    EXPECT_THAT(trace.str(),
                AllOf(HasSubstr("GPIB0::9::INSTR > *IDN?\\n"), HasSubstr("GPIB0::9::INSTR < QVTEK,QV3310")));
}

TEST_F(IoLibraryTest, TheVariableNamesTheVisaLibraryWhenNoOptionDoes)
{
    struct Case
    {
        const char *name;
        CommandLine options;
        std::string variable;
        Kind expected;
        const char *why;
    };
    CommandLine builtin;
    builtin.builtinIo = true;
    CommandLine named;
    named.visaLibrary = QStringLiteral(FAKEVISA_PATH);
    const Case cases[] = {
        {"the variable alone", {}, FAKEVISA_PATH, Kind::SystemVisa, "named by QVSCAN_VISA_LIBRARY"},
        {"--visa-library before the variable", named, "/nonexistent/libvisa.so", Kind::SystemVisa,
         "named by --visa-library"},
        {"--builtin-io before the variable", builtin, FAKEVISA_PATH, Kind::Builtin, "--builtin-io"},
        {"no variable: the search", {}, "", Kind::SystemVisa, "the first VISA library the search found"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        IoLibraryPlaces where = places;
        where.visaLibraryVariable = c.variable;
        IoChoice choice;
        EXPECT_EQ(kindOf(makeIoLibrary(c.options, where, &choice)), c.expected);
        EXPECT_EQ(choice.why, c.why);
    }
    places.visaLibraryVariable = "/nonexistent/libvisa.so";
    EXPECT_THAT(
        [&] { makeIoLibrary({}, places); },
        ThrowsMessage<RoutineError>(AllOf(HasSubstr("QVSCAN_VISA_LIBRARY"), HasSubstr("/nonexistent/libvisa.so"))));
}

TEST_F(IoLibraryTest, TheTraceBeginsWithTheLibraryChosen)
{
    CommandLine options;
    options.trace = true;
    makeIoLibrary(options, places);
    EXPECT_EQ(trace.str(), "I/O library: VISA library " FAKEVISA_PATH " (the first VISA library the search found)\n");
}

/// @brief --list-resources on the test libraries and a made-up set of serial ports.
class ResourceListingTest : public IoLibraryTest
{
protected:
    ResourceListingTest()
    {
        gpib.get<void (*)()>("fakegpib_reset")();
        gpib.get<void (*)(int)>("fakegpib_setBoards")(1);
        gpib.get<void (*)(int)>("fakegpib_addListener")(9);
        listing.io = places;
        listing.serialPorts = [] {
            return std::vector<SerialPortEntry>{{"/dev/ttyS0", "", "", ""},
                                                {"/dev/ttyUSB0", "USB-serial adapter", "Maker Ltd", "A1B2C3"}};
        };
    }
    std::string list(const CommandLine &options, int expectedStatus = 0)
    {
        std::ostringstream out;
        EXPECT_EQ(listResources(options, listing, out), expectedStatus);
        return out.str();
    }

    FakeLibrary gpib{FAKEGPIB_PATH};
    ListingPlaces listing;
};

TEST_F(ResourceListingTest, SaysWhichLibraryAndWhyAndWhatIsConnected)
{
    const std::string text = list({});
    EXPECT_THAT(text,
                HasSubstr("I/O library: VISA library " FAKEVISA_PATH " (the first VISA library the search found)\n"));
    EXPECT_THAT(
        text,
        HasSubstr("  /nonexistent/libvisa.so: not found (/nonexistent/libvisa.so: cannot open shared object file"));
    EXPECT_THAT(text,
                HasSubstr("  " FAKEVISA_NOCLEAR_PATH ": skipped: " FAKEVISA_NOCLEAR_PATH " has no function viClear"));
    EXPECT_THAT(text, HasSubstr("  " FAKEVISA_PATH ": found, used\n"));
    EXPECT_THAT(text, HasSubstr("linux-gpib (" FAKEGPIB_PATH "): found\n"));
    EXPECT_THAT(text, HasSubstr("  /dev/ttyS0: ASRL1::INSTR\n"));
    EXPECT_THAT(text,
                HasSubstr("  /dev/ttyUSB0: no ASRL address (map one with --port), description USB-serial adapter, "
                          "maker Maker Ltd, serial number A1B2C3\n"));
    EXPECT_THAT(text, HasSubstr("  GPIB0: answers\n    GPIB0::9::INSTR\n"));
    EXPECT_THAT(text, Not(HasSubstr("GPIB1")));
    EXPECT_THAT(text, Not(HasSubstr("Probe")));
}

TEST_F(ResourceListingTest, PortMappingsAreListedAndProbedThroughTheBuiltinIo)
{
    CommandLine options;
    options.ports.set(3, "/dev/ttyUSB0");
    options.ports.set(1, "/nonexistent/tty");
    options.probe = true;
    const std::string reply = "QVTEK,QV3310,QV26001729,2.04-1.01-1.00\n";
    gpib.get<void (*)(const char *, long)>("fakegpib_queueReply")(reply.data(), long(reply.size()));
    const std::string text = list(options);
    EXPECT_THAT(text, HasSubstr("I/O library: built-in I/O (serial lines directly, GPIB through linux-gpib) "
                                "(--port implies --builtin-io)\n"));
    EXPECT_THAT(text, Not(HasSubstr("VISA libraries tried")));
    EXPECT_THAT(text, HasSubstr("  /dev/ttyS0: no ASRL address"));
    EXPECT_THAT(text, HasSubstr("  /dev/ttyUSB0: ASRL3::INSTR, description"));
    EXPECT_THAT(text, HasSubstr("  /nonexistent/tty: ASRL1::INSTR (--port; no such device)\n"));
    // The GPIB instrument answers through the test linux-gpib; the mapped adapter is no pty here.
    EXPECT_THAT(text, HasSubstr("  GPIB0::9::INSTR: QVTEK,QV3310,QV26001729,2.04-1.01-1.00\n"));
    EXPECT_THAT(text, Not(HasSubstr("  ASRL1::INSTR: ")));
}

TEST_F(ResourceListingTest, UnderSimulateTheSimulatedResourcesAreListedAndAnswer)
{
    CommandLine options;
    options.simulate = true;
    options.probe = true;
    const std::string text = list(options);
    EXPECT_THAT(text, HasSubstr("I/O library: simulated QV3310 (--simulate)\n"));
    EXPECT_THAT(text, HasSubstr("  GPIB0::9::INSTR: QVTEK,QV3310,"));
    EXPECT_THAT(text, HasSubstr("  ASRL1::INSTR: QVTEK,QV3310,"));
    EXPECT_THAT(text, Not(HasSubstr("linux-gpib")));
}

TEST_F(ResourceListingTest, AnIoLibraryThatCannotBeSetUpFailsTheListing)
{
    CommandLine options;
    options.visaLibrary = QStringLiteral("/nonexistent/libvisa.so");
    EXPECT_THAT(list(options, 1),
                HasSubstr("none could be set up: --visa-library: cannot load /nonexistent/libvisa.so"));
}

TEST(CommandLineParse, KeepsTheFaultsAndPortsItParsed)
{
    const CommandLineResult simulated = CommandLine::parse(
        {"qvscan", "--simulate", "--sim-fault", "no-dmm", "--sim-fault", "queued-errors=2,error-on=TRIG:TIM"});
    ASSERT_TRUE(simulated.options);
    EXPECT_EQ(simulated.options->simFaults, sim::Faults::parse({"no-dmm", "queued-errors=2", "error-on=TRIG:TIM"}));
    EXPECT_TRUE(simulated.options->ports.mapped().empty());

    const CommandLineResult ported = CommandLine::parse(
        {"qvscan", "--port", "ASRL3=/dev/ttyUSB0", "--port", "ASRL1::INSTR=/tmp/pty"});
    ASSERT_TRUE(ported.options);
    EXPECT_EQ(ported.options->ports.mapped(), (std::map<unsigned, std::string>{{1, "/tmp/pty"}, {3, "/dev/ttyUSB0"}}));
    EXPECT_EQ(ported.options->simFaults, sim::Faults{});
}

TEST(CommandLineParse, EndsTheProgramWithAMessageInsteadOfExiting)
{
    struct Case
    {
        QStringList arguments;
        int status;
        const char *begins; ///< the message's start; every message ends with a line feed
    };
    const Case cases[] = {
        {{"--bogus"}, CommandLineResult::kUsageError, "Unknown option 'bogus'."},
        {{"stray"}, CommandLineResult::kUsageError, "unexpected argument: stray"},
        {{"--probe"}, CommandLineResult::kUsageError, "--probe needs --list-resources"},
        {{"--sim-fault", "no-dmm"}, CommandLineResult::kUsageError, "--sim-fault needs --simulate"},
        {{"--simulate", "--sim-fault", "no-such-fault"}, CommandLineResult::kUsageError, "--sim-fault: "},
        {{"--port", "COM1=/dev/ttyS0"}, CommandLineResult::kUsageError, "--port: "},
        {{"--visa-library", "/x.so", "--builtin-io"},
         CommandLineResult::kUsageError,
         "--visa-library cannot be combined with --builtin-io or --port"},
        {{"--help"}, 0, "Usage: "},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const CommandLineResult result = CommandLine::parse(QStringList{"qvscan"} + c.arguments);
        EXPECT_FALSE(result.options);
        EXPECT_EQ(result.exitStatus, c.status);
        EXPECT_TRUE(result.message.startsWith(QString::fromUtf8(c.begins))) << result.message.toStdString();
        EXPECT_TRUE(result.message.endsWith(QLatin1Char('\n'))) << result.message.toStdString();
    }
    const CommandLineResult help = CommandLine::parse({"qvscan", "--help"});
    EXPECT_THAT(help.message.toStdString(), AllOf(HasSubstr("--simulate"), HasSubstr("--port <ASRLn=PATH>")));
    const CommandLineResult version = CommandLine::parse({"qvscan", "--version"});
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_EQ(version.message,
              QCoreApplication::applicationName() + ' ' + QCoreApplication::applicationVersion() + '\n');
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
