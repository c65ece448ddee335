#include "sim/qv3310.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <ctime>
#include <stdexcept>
#include <utility>

#include "sim/scpiformat.h"
#include "sim/scpiparser.h"

namespace sim {

namespace {

using scpi::Call;
using scpi::Error;
using scpi::NumberLimits;
namespace err = scpi::err;
namespace chr = std::chrono;

constexpr NumberLimits kNplcLimits{0.02, 200, 1};
constexpr NumberLimits kDelayLimits{0, 60, 0};
constexpr NumberLimits kTriggerCountLimits{1, 50000, 1};
constexpr NumberLimits kTimerLimits{0, 359999, 1};
constexpr NumberLimits kReadingCountLimits{1, Qv3310::kMemoryCapacity, 1};
constexpr NumberLimits kSlotLimits{100, 300, 100};
constexpr NumberLimits kRegisterLimits{0, 255, 0};
constexpr NumberLimits kVoltageRangeLimits{0, 300, 10};
constexpr std::array kVoltageRanges{0.1, 1.0, 10.0, 100.0, 300.0};

/// ESR bits (IEEE 488.2): operation complete and the four error classes.
constexpr int kEsrOperationComplete = 1 << 0;
constexpr int kEsrQueryError = 1 << 2;
constexpr int kEsrDeviceError = 1 << 3;
constexpr int kEsrExecutionError = 1 << 4;
constexpr int kEsrCommandError = 1 << 5;
/// Status byte bits: error queue not empty (SCPI), message available, event summary, MSS.
constexpr int kStbErrorAvailable = 1 << 2;
constexpr int kStbMessageAvailable = 1 << 4;
constexpr int kStbEventSummary = 1 << 5;
constexpr int kStbMasterSummary = 1 << 6;

constexpr Clock::Duration kNever = Clock::Duration::max();

/// Rounded, so 45.123 s stays 45.123 s rather than a nanosecond short of it.
Clock::Duration toDuration(double seconds)
{
    return chr::round<Clock::Duration>(chr::duration<double>(seconds));
}

double toSeconds(Clock::Duration d)
{
    return chr::duration<double>(d).count();
}

/// @p value in decimal, zero-padded to @p width digits.
std::string padded(long long value, int width)
{
    std::array<char, 24> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    std::string text(buffer.data(), result.ptr);
    if (static_cast<int>(text.size()) < width)
        text.insert(0, static_cast<std::size_t>(width) - text.size(), '0');
    return text;
}

std::string joined(const std::vector<std::string> &parts, char separator)
{
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            text += separator;
        text += parts[i];
    }
    return text;
}

std::optional<double> voltageRange(const Call &c, std::size_t i)
{
    if (!c.has(i) || scpi::matchesMnemonic("AUTO", c.text(i)) || scpi::matchesMnemonic("DEFault", c.text(i)))
        return std::nullopt;
    const double volts = c.number(i, kVoltageRangeLimits);
    // The smallest range that holds the value, as a DMM picks it.
    return *std::find_if(kVoltageRanges.begin(), kVoltageRanges.end(),
                         [volts](double range) { return volts <= range; });
}

// Each setting's values by name: what its command takes, and (the first name's short form) what
// its query replies.
constexpr std::pair<std::string_view, TemperatureUnit> kUnits[] = {
    {"C", TemperatureUnit::Celsius},      {"CEL", TemperatureUnit::Celsius}, {"F", TemperatureUnit::Fahrenheit},
    {"FAR", TemperatureUnit::Fahrenheit}, {"K", TemperatureUnit::Kelvin},
};
constexpr std::pair<std::string_view, ReferenceJunction> kJunctions[] = {
    {"INTernal", ReferenceJunction::Internal},
    {"EXTernal", ReferenceJunction::External},
    {"FIXed", ReferenceJunction::Fixed},
};
constexpr std::pair<std::string_view, char> kThermocouples[] = {
    {"J", 'J'}, {"K", 'K'}, {"T", 'T'}, {"E", 'E'}, {"N", 'N'}, {"R", 'R'}, {"S", 'S'}, {"B", 'B'}, {"DEFault", 'J'},
};
constexpr std::pair<std::string_view, TriggerSource> kSources[] = {
    {"IMMediate", TriggerSource::Immediate},
    {"TIMer", TriggerSource::Timer},
    {"BUS", TriggerSource::Bus},
    {"EXTernal", TriggerSource::External},
};
constexpr std::pair<std::string_view, bool> kTimeTypes[] = {{"RELative", true}, {"ABSolute", false}};
constexpr std::pair<std::string_view, Function> kTemperatureFunctions[] = {
    {"TCouple", Function::Thermocouple},
    {"DEFault", Function::Thermocouple},
};

char thermocoupleType(const Call &c, std::size_t i)
{
    return c.has(i) ? c.choice<char>(i, kThermocouples) : 'J';
}

std::string configurationText(const ChannelConfig &config)
{
    if (config.function == Function::Thermocouple)
        return std::string("\"TEMP TC,") + config.thermocoupleType + "\"";
    return "\"VOLT " + (config.range ? scpi::formatNr3(*config.range) : std::string("AUTO")) + "\"";
}

/// @brief A setting each channel has: the function whose channels take it (none: every channel),
/// where it lives, how its command reads it and how its query shows it.
template<class T>
struct ChannelSetting
{
    std::optional<Function> function;
    T ChannelConfig::*field;
    T (*read)(const Call &c);
    std::string (*show)(T value);
};

std::string shownNr3(double value)
{
    return scpi::formatNr3(value);
}

constexpr ChannelSetting<TemperatureUnit> kUnitSetting{
    Function::Thermocouple, &ChannelConfig::unit, [](const Call &c) { return c.choice<TemperatureUnit>(0, kUnits); },
    [](TemperatureUnit unit) { return scpi::shortMnemonic<TemperatureUnit>(kUnits, unit); }};
constexpr ChannelSetting<ReferenceJunction> kJunctionSetting{
    Function::Thermocouple, &ChannelConfig::referenceJunction,
    [](const Call &c) { return c.choice<ReferenceJunction>(0, kJunctions); },
    [](ReferenceJunction junction) { return scpi::shortMnemonic<ReferenceJunction>(kJunctions, junction); }};
constexpr ChannelSetting<char> kThermocoupleSetting{Function::Thermocouple, &ChannelConfig::thermocoupleType,
                                                    [](const Call &c) { return thermocoupleType(c, 0); },
                                                    [](char type) { return std::string(1, type); }};
constexpr ChannelSetting<double> kVoltageNplcSetting{Function::DcVolts, &ChannelConfig::nplc,
                                                     [](const Call &c) { return c.number(0, kNplcLimits); }, shownNr3};
constexpr ChannelSetting<double> kTemperatureNplcSetting{
    Function::Thermocouple, &ChannelConfig::nplc, [](const Call &c) { return c.number(0, kNplcLimits); }, shownNr3};
constexpr ChannelSetting<double> kDelaySetting{std::nullopt, &ChannelConfig::delaySeconds,
                                               [](const Call &c) { return c.number(0, kDelayLimits); }, shownNr3};

} // namespace

template<const auto &setting>
void Qv3310::setChannels(Qv3310 &d, Call &c)
{
    const auto channels = d.targets(c);
    const auto value = setting.read(c);
    if (setting.function)
        d.requireFunction(channels, *setting.function);
    d.requireIdle();
    for (int number : channels)
        d.channel(number).*setting.field = value;
}

template<const auto &setting>
void Qv3310::showChannels(Qv3310 &d, Call &c)
{
    d.replyPerChannel(c, [](const ChannelConfig &config) { return setting.show(config.*setting.field); });
}

// The command set. One line per header pattern: [optional] nodes, short form in capitals, "?"
// for the query form; then the most parameters the command takes (a trailing channel list
// included); then what it does. Handlers read all their parameters before changing anything.
// A per-channel setting is one line for its command and its query: a ChannelSetting row above.
const Qv3310::Table &Qv3310::commands()
{
    static const Table table{
        // IEEE 488.2 common commands
        {"*IDN?", 0, [](Qv3310 &d, Call &c) { c.reply(d.identification()); }},
        {"*RST", 0, [](Qv3310 &d, Call &) { d.reset(); }},
        {"*CLS", 0,
         [](Qv3310 &d, Call &) {
             d.m_errors.clear();
             d.m_eventStatus = 0;
             d.m_operationCompleteAt.reset();
         }},
        {"*OPC?", 0,
         [](Qv3310 &d, Call &c) {
             d.m_replyNotBefore = std::max(d.m_replyNotBefore, d.scanCompletion());
             c.reply("1");
         }},
        {"*OPC", 0, [](Qv3310 &d, Call &) { d.m_operationCompleteAt = d.scanCompletion(); }},
        {"*ESR?", 0,
         [](Qv3310 &d, Call &c) {
             d.readOperationComplete();
             c.reply(std::to_string(std::exchange(d.m_eventStatus, 0)));
         }},
        {"*ESE", 1,
         [](Qv3310 &d, Call &c) { d.m_eventStatusEnable = static_cast<int>(c.integer(0, kRegisterLimits)); }},
        {"*ESE?", 0, [](Qv3310 &d, Call &c) { c.reply(std::to_string(d.m_eventStatusEnable)); }},
        {"*SRE", 1,
         [](Qv3310 &d, Call &c) {
             d.m_serviceRequestEnable = static_cast<int>(c.integer(0, kRegisterLimits)) & ~kStbMasterSummary;
         }},
        {"*SRE?", 0, [](Qv3310 &d, Call &c) { c.reply(std::to_string(d.m_serviceRequestEnable)); }},
        {"*STB?", 0, [](Qv3310 &d, Call &c) { c.reply(std::to_string(d.statusByte())); }},
        {"*TST?", 0, [](Qv3310 &, Call &c) { c.reply("+0"); }},
        {"*TRG", 0,
         [](Qv3310 &d, Call &) {
             if (!d.m_scan || !d.m_scan->trigger(d.m_clock->now()))
                 throw Error(err::kTriggerIgnored);
         }},

        // System
        {"SYSTem:ERRor[:NEXT]?", 0, [](Qv3310 &d, Call &c) { c.reply(d.m_errors.next()); }},
        {"SYSTem:ERRor:COUNt?", 0,
         [](Qv3310 &d, Call &c) { c.reply(scpi::formatNr1(static_cast<long long>(d.m_errors.size()))); }},
        {"SYSTem:VERSion?", 0, [](Qv3310 &, Call &c) { c.reply("1999.0"); }},
        {"SYSTem:REMote", 0, [](Qv3310 &d, Call &) { d.m_remote = true; }},
        {"SYSTem:RWLock", 0, [](Qv3310 &d, Call &) { d.m_remote = true; }},
        {"SYSTem:LOCal", 0, [](Qv3310 &d, Call &) { d.m_remote = false; }},
        {"SYSTem:CTYPe?", 1,
         [](Qv3310 &d, Call &c) {
             const long long slot = c.integer(0, kSlotLimits);
             if (slot % 100 != 0)
                 throw Error(err::kIllegalParameterValue, "no slot " + std::to_string(slot));
             c.reply(d.moduleIdentification(static_cast<int>(slot)));
         }},
        {"SYSTem:DATE?", 0, [](Qv3310 &d, Call &c) { c.reply(d.dateText()); }},
        {"SYSTem:DATE", 3,
         [](Qv3310 &d, Call &c) {
             const chr::year_month_day date{chr::year(static_cast<int>(c.integer(0, {2000, 2099, 2000}))),
                                            chr::month(static_cast<unsigned>(c.integer(1, {1, 12, 1}))),
                                            chr::day(static_cast<unsigned>(c.integer(2, {1, 31, 1})))};
             if (!date.ok())
                 throw Error(err::kDataOutOfRange, "no such date");
             const Clock::Duration civil = d.civilNow();
             d.setCivil(chr::sys_days(date).time_since_epoch() + (civil - chr::floor<chr::days>(civil)));
         }},
        {"SYSTem:TIME?", 0, [](Qv3310 &d, Call &c) { c.reply(d.timeText()); }},
        {"SYSTem:TIME", 3,
         [](Qv3310 &d, Call &c) {
             const long long hour = c.integer(0, {0, 23, 0});
             const long long minute = c.integer(1, {0, 59, 0});
             const double second = c.number(2, {0, 59.999, 0});
             const Clock::Duration midnight = chr::floor<chr::days>(d.civilNow());
             d.setCivil(midnight + chr::hours(hour) + chr::minutes(minute) + toDuration(second));
         }},

        // DMM
        {"INSTrument:DMM:INSTalled?", 0, [](Qv3310 &d, Call &c) { c.reply(scpi::formatBool(d.m_dmmInstalled)); }},
        {"INSTrument:DMM[:STATe]?", 0, [](Qv3310 &d, Call &c) { c.reply(scpi::formatBool(d.m_dmmEnabled)); }},
        {"INSTrument:DMM[:STATe]", 1,
         [](Qv3310 &d, Call &c) {
             const bool on = c.boolean(0);
             if (!d.m_dmmInstalled)
                 throw Error(err::kHardwareMissing, "DMM not installed");
             d.requireIdle();
             d.m_dmmEnabled = on;
         }},

        // Channel configuration
        {"CONFigure:TEMPerature", 5,
         [](Qv3310 &d, Call &c) {
             const auto channels = d.targets(c);
             c.choice<Function>(0, kTemperatureFunctions);
             const char type = thermocoupleType(c, 1);
             d.requireIdle();
             for (int number : channels) {
                 ChannelConfig &config = d.channel(number);
                 config.function = Function::Thermocouple;
                 config.thermocoupleType = type;
                 config.nplc = kNplcLimits.def;
             }
         }},
        {"CONFigure:VOLTage[:DC]", 3,
         [](Qv3310 &d, Call &c) {
             const auto channels = d.targets(c);
             const auto range = voltageRange(c, 0);
             if (c.has(1))
                 c.number(1, {0, 1, 0}); // resolution: checked, then met by the integration time
             d.requireIdle();
             for (int number : channels) {
                 ChannelConfig &config = d.channel(number);
                 config.function = Function::DcVolts;
                 config.range = range;
                 config.nplc = kNplcLimits.def;
             }
         }},
        {"CONFigure?", 1, [](Qv3310 &d, Call &c) { d.replyPerChannel(c, configurationText); }},
        {"UNIT:TEMPerature", 2, setChannels<kUnitSetting>, 1, showChannels<kUnitSetting>},
        {"[SENSe:]TEMPerature:TRANsducer:TCouple:RJUNction:TYPE", 2, setChannels<kJunctionSetting>, 1,
         showChannels<kJunctionSetting>},
        {"[SENSe:]TEMPerature:TRANsducer:TCouple:TYPE", 2, setChannels<kThermocoupleSetting>, 1,
         showChannels<kThermocoupleSetting>},
        {"[SENSe:]VOLTage[:DC]:NPLCycles", 2, setChannels<kVoltageNplcSetting>, 1, showChannels<kVoltageNplcSetting>},
        {"[SENSe:]TEMPerature:NPLCycles", 2, setChannels<kTemperatureNplcSetting>, 1,
         showChannels<kTemperatureNplcSetting>},

        // Scan list and channel delay
        {"ROUTe:SCAN", 1,
         [](Qv3310 &d, Call &c) {
             std::vector<int> channels = c.channelList(0, kFirstChannel, kLastChannel);
             d.requireIdle();
             // A multiplexer scans in channel order, each channel once.
             std::sort(channels.begin(), channels.end());
             channels.erase(std::unique(channels.begin(), channels.end()), channels.end());
             d.m_settings.scanList = std::move(channels);
         }},
        {"ROUTe:SCAN?", 0, [](Qv3310 &d, Call &c) { c.reply(scpi::formatChannelList(d.m_settings.scanList)); }},
        {"ROUTe:SCAN:SIZE?", 0,
         [](Qv3310 &d, Call &c) { c.reply(scpi::formatNr1(static_cast<long long>(d.m_settings.scanList.size()))); }},
        {"ROUTe:CHANnel:DELay", 2, setChannels<kDelaySetting>, 1, showChannels<kDelaySetting>},

        // Trigger
        {"TRIGger:COUNt", 1,
         [](Qv3310 &d, Call &c) {
             const auto count = static_cast<int>(c.integer(0, kTriggerCountLimits));
             d.requireIdle();
             d.m_settings.triggerCount = count;
         }},
        {"TRIGger:COUNt?", 0, [](Qv3310 &d, Call &c) { c.reply(scpi::formatNr3(d.m_settings.triggerCount)); }},
        {"TRIGger:SOURce", 1,
         [](Qv3310 &d, Call &c) {
             const auto source = c.choice<TriggerSource>(0, kSources);
             d.requireIdle();
             d.m_settings.triggerSource = source;
         }},
        {"TRIGger:SOURce?", 0,
         [](Qv3310 &d, Call &c) { c.reply(scpi::shortMnemonic<TriggerSource>(kSources, d.m_settings.triggerSource)); }},
        {"TRIGger:TIMer", 1,
         [](Qv3310 &d, Call &c) {
             const double seconds = c.number(0, kTimerLimits);
             d.requireIdle();
             d.m_settings.timerSeconds = seconds;
         }},
        {"TRIGger:TIMer?", 0, [](Qv3310 &d, Call &c) { c.reply(scpi::formatNr3(d.m_settings.timerSeconds)); }},

        // Reading format
        {"FORMat:READing:TIME", 1, [](Qv3310 &d, Call &c) { d.m_settings.timeStamps = c.boolean(0); }},
        {"FORMat:READing:TIME?", 0, [](Qv3310 &d, Call &c) { c.reply(scpi::formatBool(d.m_settings.timeStamps)); }},
        {"FORMat:READing:TIME:TYPE", 1,
         [](Qv3310 &d, Call &c) { d.m_settings.relativeTime = c.choice<bool>(0, kTimeTypes); }},
        {"FORMat:READing:TIME:TYPE?", 0,
         [](Qv3310 &d, Call &c) { c.reply(scpi::shortMnemonic<bool>(kTimeTypes, d.m_settings.relativeTime)); }},
        {"FORMat:READing:CHANnel", 1, [](Qv3310 &d, Call &c) { d.m_settings.channelNumbers = c.boolean(0); }},
        {"FORMat:READing:CHANnel?", 0,
         [](Qv3310 &d, Call &c) { c.reply(scpi::formatBool(d.m_settings.channelNumbers)); }},

        // Scanning and reading memory
        {"INITiate[:IMMediate]", 0, [](Qv3310 &d, Call &) { d.startScan(); }},
        {"ABORt", 0, [](Qv3310 &d, Call &) { d.m_scan.reset(); }},
        {"DATA:POINts?", 0,
         [](Qv3310 &d, Call &c) { c.reply(scpi::formatNr1(static_cast<long long>(d.m_memory.size()))); }},
        {"DATA:REMove?", 1, [](Qv3310 &d, Call &c) { c.reply(d.removeReadings(c.integer(0, kReadingCountLimits))); }},
    };
    return table;
}

Qv3310::Qv3310(std::shared_ptr<Clock> clock, Faults faults)
    : m_clock(std::move(clock))
    , m_faults(std::move(faults))
{
    if (!m_clock)
        throw std::invalid_argument("Qv3310 needs a clock");
    for (const Faults::ErrorOn &errorOn : m_faults.errorOn) {
        const auto units = scpi::parseProgramMessage(errorOn.header);
        const auto *entry = units.size() == 1 && units.front().error == err::kNone ? commands().find(units.front())
                                                                                   : nullptr;
        if (!entry)
            throw std::invalid_argument("fault \"error-on\": \"" + errorOn.header + "\" is not a command of the "
                                        + kModel);
        m_failingHeaders.push_back({entry->pattern, errorOn.code});
    }

    m_dmmInstalled = !m_faults.noDmm;
    m_dmmEnabled = m_dmmInstalled && !m_faults.dmmOff;
    for (int code : m_faults.queuedErrors)
        raise(code);

    // The instrument's calendar starts at the local wall-clock time.
    const auto now = chr::system_clock::now();
    const std::time_t seconds = chr::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const chr::year_month_day date{chr::year(local.tm_year + 1900), chr::month(static_cast<unsigned>(local.tm_mon + 1)),
                                   chr::day(static_cast<unsigned>(local.tm_mday))};
    const auto fraction = chr::duration_cast<Clock::Duration>(now - chr::system_clock::from_time_t(seconds));
    setCivil(chr::sys_days(date).time_since_epoch() + chr::hours(local.tm_hour) + chr::minutes(local.tm_min)
             + chr::seconds(local.tm_sec) + std::max(fraction, Clock::Duration::zero()));
}

Qv3310::~Qv3310() = default;

bool Qv3310::silent() const
{
    return m_faults.stopAnsweringAfter && m_messagesHandled >= static_cast<std::size_t>(*m_faults.stopAnsweringAfter);
}

void Qv3310::receive(std::string_view message)
{
    if (m_observer)
        m_observer->messageReceived(message);
    if (silent())
        return;
    ++m_messagesHandled;
    if (message.size() > kInputBufferSize) {
        // As an instrument whose buffer overflows: the whole line is lost, nothing of it runs.
        raise(err::kInputBufferOverrun, std::to_string(message.size()) + " bytes");
        return;
    }
    if (!scpi::hasProgramUnits(message))
        return;

    update();
    if (m_output) {
        // IEEE 488.2: a new message before the response was read discards the response.
        m_output.reset();
        raise(err::kQueryInterrupted);
    }
    m_replyNotBefore = m_clock->now();
    std::vector<std::string> &responses = m_responses;
    responses.clear();
    m_parser.parse(message, [&](const scpi::ProgramUnit &unit) { execute(unit, responses); });
    if (!responses.empty() && !m_faults.noAnswer)
        m_output = Reply{responses.size() == 1 ? std::move(responses.front()) : joined(responses, ';'),
                         m_replyNotBefore};
}

void Qv3310::execute(const scpi::ProgramUnit &unit, std::vector<std::string> &responses)
{
    if (unit.error != err::kNone) {
        raise(unit.error, unit.header);
        return;
    }
    const auto *entry = commands().find(unit);
    if (!entry) {
        raise(err::kUndefinedHeader, unit.header);
        return;
    }
    if (unit.parameters.size() > entry->maxParameters) {
        raise(err::kParameterNotAllowed, unit.header);
        return;
    }
    const auto failing = std::find_if(m_failingHeaders.begin(), m_failingHeaders.end(),
                                      [entry](const FailingHeader &f) { return f.pattern == entry->pattern; });
    if (failing != m_failingHeaders.end()) {
        raise(failing->code, unit.header);
        return;
    }
    Call call(unit);
    try {
        entry->handler(*this, call);
    } catch (const Error &error) {
        raise(error.code(), error.info());
        return;
    }
    if (call.response())
        responses.push_back(std::move(*call.response()));
}

std::optional<std::string> Qv3310::takeReply()
{
    if (m_output) {
        if (m_output->readyAt > m_clock->now())
            return std::nullopt; // still being prepared: the reader waits
        std::string text = std::move(m_output->text);
        m_output.reset();
        return text;
    }
    if (!silent())
        raise(err::kQueryUnterminated);
    return std::nullopt;
}

std::optional<Clock::Duration> Qv3310::nextReplyAt() const
{
    if (!m_output || m_output->readyAt == kNever)
        return std::nullopt;
    return m_output->readyAt;
}

void Qv3310::deviceClear()
{
    if (m_observer)
        m_observer->deviceCleared();
    if (silent())
        return;
    m_output.reset();
    m_operationCompleteAt.reset();
}

void Qv3310::reset()
{
    m_settings = Settings{};
    m_scan.reset();
    m_memory.clear();
    m_operationCompleteAt.reset();
}

void Qv3310::raise(int code, std::string_view info)
{
    m_errors.push(code, info);
    if (code <= -100 && code > -200)
        m_eventStatus |= kEsrCommandError;
    else if (code <= -200 && code > -300)
        m_eventStatus |= kEsrExecutionError;
    else if (code <= -400 && code > -500)
        m_eventStatus |= kEsrQueryError;
    else if (code != 0)
        m_eventStatus |= kEsrDeviceError;
}

void Qv3310::update()
{
    if (m_scan && !m_scan->finished())
        m_scan->advance(m_clock->now(), m_memory, kMemoryCapacity);
    m_memory.keepNewest(kMemoryCapacity);
}

bool Qv3310::scanning() const
{
    return m_scan && !m_scan->finished();
}

void Qv3310::requireIdle() const
{
    if (scanning())
        throw Error(err::kSettingsConflict, "scan in progress");
}

Clock::Duration Qv3310::scanCompletion() const
{
    if (!scanning())
        return m_clock->now();
    return m_scan->completion().value_or(kNever);
}

std::vector<int> Qv3310::targets(Call &c) const
{
    std::optional<std::vector<int>> channels = c.takeChannelList(kFirstChannel, kLastChannel);
    if (!channels) {
        if (m_settings.scanList.empty())
            throw Error(err::kMissingParameter, "no channel list and no scan list");
        return m_settings.scanList;
    }
    return *std::move(channels);
}

void Qv3310::requireFunction(const std::vector<int> &channels, Function function) const
{
    const char *what = function == Function::Thermocouple ? " does not measure temperature"
                                                          : " does not measure DC volts";
    for (int number : channels) {
        if (channel(number).function != function)
            throw Error(err::kSettingsConflict, "channel " + std::to_string(number) + what);
    }
}

void Qv3310::replyPerChannel(Call &c, std::string (*text)(const ChannelConfig &)) const
{
    std::string reply;
    const char *separator = "";
    for (int number : targets(c)) {
        reply.append(separator).append(text(channel(number)));
        separator = ",";
    }
    c.reply(std::move(reply));
}

ChannelConfig &Qv3310::channel(int number)
{
    return m_settings.channels.at(static_cast<std::size_t>(number - kFirstChannel));
}

const ChannelConfig &Qv3310::channel(int number) const
{
    return m_settings.channels.at(static_cast<std::size_t>(number - kFirstChannel));
}

void Qv3310::startScan()
{
    if (scanning())
        throw Error(err::kInitIgnored);
    if (!m_dmmInstalled)
        throw Error(err::kHardwareMissing, "DMM not installed");
    if (!m_dmmEnabled)
        throw Error(err::kSettingsConflict, "DMM disabled");
    if (m_settings.scanList.empty())
        throw Error(err::kSettingsConflict, "empty scan list");

    std::vector<ScanRun::Step> steps;
    for (int number : m_settings.scanList)
        steps.push_back({number, channel(number)});
    ScanRun::Options options;
    options.passes = m_settings.triggerCount;
    options.source = m_settings.triggerSource;
    options.timer = toDuration(m_settings.timerSeconds);
    options.neverCompletes = m_faults.scanNeverCompletes;
    options.extraReading = m_faults.extraReadings;

    m_scanStart = m_clock->now();
    m_scan.emplace(std::move(steps), options, m_scanStart);
    m_memory.follow(*m_scan);
}

std::string Qv3310::removeReadings(long long count)
{
    if (static_cast<std::size_t>(count) > m_memory.size()) {
        throw Error(err::kDataOutOfRange, "only " + std::to_string(m_memory.size()) + " readings stored");
    }
    std::vector<std::string> records;
    for (long long i = 0; i < count; ++i) {
        records.push_back(formatRecord(m_memory.oldest()));
        m_memory.dropOldest(1);
    }
    return joined(records, ',');
}

std::string Qv3310::formatRecord(const Reading &reading) const
{
    std::string record = scpi::formatNr3(reading.value);
    if (m_settings.timeStamps) {
        record += ',';
        record += m_settings.relativeTime ? scpi::formatNr3(toSeconds(reading.time - m_scanStart), 9)
                                          : civilText(m_civilAtStart + reading.time);
    }
    if (m_settings.channelNumbers && !m_faults.missingField)
        record += "," + std::to_string(reading.channel);
    return record;
}

std::string Qv3310::identification() const
{
    return std::string(kManufacturer) + "," + m_faults.model.value_or(kModel) + "," + kSerialNumber + "," + kFirmware;
}

std::string Qv3310::moduleIdentification(int slot) const
{
    if (slot != kModuleSlot)
        return "0,0,0,0"; // empty slot
    return std::string(kManufacturer) + "," + m_faults.module.value_or(kModule) + ",0,1.0";
}

int Qv3310::statusByte() const
{
    int status = 0;
    if (!m_errors.empty())
        status |= kStbErrorAvailable;
    if (m_output && m_output->readyAt <= m_clock->now())
        status |= kStbMessageAvailable;
    if (m_eventStatus & m_eventStatusEnable)
        status |= kStbEventSummary;
    if (status & m_serviceRequestEnable)
        status |= kStbMasterSummary;
    return status;
}

void Qv3310::readOperationComplete()
{
    if (m_operationCompleteAt && *m_operationCompleteAt <= m_clock->now()) {
        m_eventStatus |= kEsrOperationComplete;
        m_operationCompleteAt.reset();
    }
}

Clock::Duration Qv3310::civilNow() const
{
    return m_civilAtStart + m_clock->now();
}

void Qv3310::setCivil(Clock::Duration civil)
{
    m_civilAtStart = civil - m_clock->now();
}

std::string Qv3310::dateText() const
{
    return civilText(civilNow()).substr(0, 10); // "2026,12,10"
}

std::string Qv3310::timeText() const
{
    return civilText(civilNow()).substr(11); // "02,13,45.123"
}

std::string Qv3310::civilText(Clock::Duration civil)
{
    const chr::year_month_day date{chr::sys_days(chr::floor<chr::days>(civil))};
    const chr::hh_mm_ss time{chr::floor<chr::milliseconds>(civil - chr::floor<chr::days>(civil))};
    return padded(static_cast<int>(date.year()), 4) + "," + padded(static_cast<unsigned>(date.month()), 2) + ","
           + padded(static_cast<unsigned>(date.day()), 2) + "," + padded(time.hours().count(), 2) + ","
           + padded(time.minutes().count(), 2) + "," + padded(time.seconds().count(), 2) + "."
           + padded(time.subseconds().count(), 3);
}

} // namespace sim
