#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/clock.h"
#include "sim/faults.h"
#include "sim/scan.h"
#include "sim/scpierrors.h"
#include "sim/scpiparser.h"

namespace sim {

/// @brief A simulated QV3310 data-acquisition unit: a DMM and a 20-channel QV3391 multiplexer in
/// slot 100, programmed in SCPI.
///
/// It takes whole program messages and hands out whole response messages; byte framing and bus
/// timing belong to whoever carries them (SimSession, or a pseudo-terminal server). Everything
/// time-dependent, a running scan above all, is worked out from the clock when asked, so a test on
/// a virtual clock runs a 15-second scan in no time. Not thread-safe: one carrier at a time.
class Qv3310
{
public:
    static constexpr const char *kManufacturer = "QVTEK";
    static constexpr const char *kModel = "QV3310";
    static constexpr const char *kSerialNumber = "QV26001729";
    static constexpr const char *kFirmware = "2.04-1.01-1.00";
    static constexpr const char *kModule = "QV3391";
    static constexpr int kModuleSlot = 100;
    static constexpr int kFirstChannel = 101;
    static constexpr int kLastChannel = 120;
    static constexpr int kChannelCount = kLastChannel - kFirstChannel + 1;
    /// Readings the memory holds; beyond it the oldest are overwritten.
    static constexpr std::size_t kMemoryCapacity = 50000;
    /// Bytes the input buffer holds: a longer program message is refused whole (-363).
    static constexpr std::size_t kInputBufferSize = 4096;

    /// @brief Watches what the instrument is sent; the instrument itself keeps no history.
    class Observer
    {
    public:
        virtual ~Observer() = default;
        virtual void messageReceived(std::string_view message) = 0;
        virtual void deviceCleared() = 0;
    };

    explicit Qv3310(std::shared_ptr<Clock> clock, Faults faults = {});
    ~Qv3310();
    Qv3310(const Qv3310 &) = delete;
    Qv3310 &operator=(const Qv3310 &) = delete;

    /// Takes one complete program message, terminator stripped, and executes it.
    void receive(std::string_view message);

    /// The response message ready to be read, without terminator. Empty when none is ready; when
    /// none is even pending, being asked counts as a read with nothing to say (-420).
    std::optional<std::string> takeReply();

    /// When the pending response becomes ready (a "*OPC?" waits for the scan); empty when no
    /// response will come.
    std::optional<Clock::Duration> nextReplyAt() const;

    /// IEEE 488.2 device clear: drops pending input and output, stops nothing else.
    void deviceClear();

    /// Tells @p observer of every message and device clear from now on; nullptr detaches it.
    void setObserver(std::shared_ptr<Observer> observer) { m_observer = std::move(observer); }

    int openSessions() const { return m_openSessions; }
    void sessionOpened() { ++m_openSessions; }
    void sessionClosed() { --m_openSessions; }

    Clock &clock() { return *m_clock; }
    const Faults &faults() const { return m_faults; }

    /// True once "stop-answering-after" has run out: messages are ignored from then on.
    bool silent() const;

private:
    using Table = scpi::CommandTable<Qv3310>;
    static const Table &commands();

    /// Everything *RST restores.
    struct Settings
    {
        std::array<ChannelConfig, kChannelCount> channels{};
        std::vector<int> scanList;
        int triggerCount = 1;
        TriggerSource triggerSource = TriggerSource::Immediate;
        double timerSeconds = 1;
        bool timeStamps = false;
        bool relativeTime = false;
        bool channelNumbers = false;
    };

    struct Reply
    {
        std::string text;
        Clock::Duration readyAt{}; ///< Duration::max(): never
    };

    /// A command that fails on purpose (fault "error-on"), by its table pattern.
    struct FailingHeader
    {
        std::string_view pattern;
        int code = 0;
    };

    void reset();
    /// Runs one unit; its response, if any, is appended to @p responses.
    void execute(const scpi::ProgramUnit &unit, std::vector<std::string> &responses);
    void raise(int code, std::string_view info = {});
    /// Stores the readings the scan has taken by now.
    void update();
    bool scanning() const;
    void requireIdle() const;
    Clock::Duration scanCompletion() const;

    /// The channel list that ends @p c, or the scan list when it has none; every channel checked.
    std::vector<int> targets(scpi::Call &c) const;
    void requireFunction(const std::vector<int> &channels, Function function) const;
    /// A per-channel setting's command and query, from its row (see ChannelSetting).
    template<const auto &setting>
    static void setChannels(Qv3310 &d, scpi::Call &c);
    template<const auto &setting>
    static void showChannels(Qv3310 &d, scpi::Call &c);
    /// Replies with one text per target channel of @p c, comma-separated.
    void replyPerChannel(scpi::Call &c, std::string (*text)(const ChannelConfig &)) const;
    ChannelConfig &channel(int number);
    const ChannelConfig &channel(int number) const;
    void startScan();
    std::string removeReadings(long long count);
    std::string formatRecord(const Reading &reading) const;

    /// Local date and time on the instrument, as time since 1970-01-01 00:00.
    Clock::Duration civilNow() const;
    std::string dateText() const;
    std::string timeText() const;
    /// "yyyy,mm,dd,hh,mm,ss.sss" for a local time.
    static std::string civilText(Clock::Duration civil);
    void setCivil(Clock::Duration civil);

    std::string identification() const;
    std::string moduleIdentification(int slot) const;
    int statusByte() const;
    void readOperationComplete();

    std::shared_ptr<Clock> m_clock;
    Faults m_faults;
    std::vector<FailingHeader> m_failingHeaders;

    Settings m_settings;
    bool m_dmmInstalled = true;
    bool m_dmmEnabled = true;
    bool m_remote = false;
    std::optional<ScanRun> m_scan;
    Clock::Duration m_scanStart{};
    ReadingMemory m_memory;

    scpi::ErrorQueue m_errors;
    int m_eventStatus = 0;
    int m_eventStatusEnable = 0;
    int m_serviceRequestEnable = 0;
    std::optional<Clock::Duration> m_operationCompleteAt; ///< armed by *OPC
    std::optional<Reply> m_output;
    Clock::Duration m_replyNotBefore{}; ///< set by *OPC? while a message runs

    Clock::Duration m_civilAtStart{}; ///< local time when the clock read zero
    std::shared_ptr<Observer> m_observer;
    std::size_t m_messagesHandled = 0;
    // Kept from message to message for their buffers: a client's commands cost no allocation.
    scpi::MessageParser m_parser;
    std::vector<std::string> m_responses;
    int m_openSessions = 0;
};

/// @brief An Observer that keeps every program message in order, a device clear as
/// kDeviceClearEntry: what tests and benchmarks compare with what a controller sent.
class MessageLog final : public Qv3310::Observer
{
public:
    static constexpr const char *kDeviceClearEntry = "(device clear)";

    /// A log attached to @p instrument.
    static std::shared_ptr<MessageLog> attachedTo(Qv3310 &instrument)
    {
        auto log = std::make_shared<MessageLog>();
        instrument.setObserver(log);
        return log;
    }

    void messageReceived(std::string_view message) override { m_messages.emplace_back(message); }
    void deviceCleared() override { m_messages.emplace_back(kDeviceClearEntry); }

    const std::vector<std::string> &messages() const { return m_messages; }

private:
    std::vector<std::string> m_messages;
};

} // namespace sim
