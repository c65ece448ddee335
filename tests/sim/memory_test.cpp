// Memory the simulator holds over a long dialogue, and the work a long message costs, counted by
// the allocator rather than timed: every allocation of this program goes through the counters.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include <gtest/gtest.h>

#include "instrumentfixture.h"
#include "sim/scpiparser.h"
#include "sim/simsession.h"
#include "sim/simulatedbackend.h"
#include "visa/resourcename.h"
#include "visa/sessionoptions.h"

namespace {

std::atomic<std::size_t> g_live{0};
std::atomic<std::size_t> g_peak{0};
std::atomic<std::size_t> g_total{0};

/// Room before each block for its size, kept aligned for any type.
constexpr std::size_t kHeader = alignof(std::max_align_t);

void *allocate(std::size_t size)
{
    void *block = std::malloc(size + kHeader);
    if (!block)
        throw std::bad_alloc();
    *static_cast<std::size_t *>(block) = size;
    const std::size_t live = g_live += size;
    g_total += size;
    std::size_t peak = g_peak.load();
    while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
    }
    return static_cast<char *>(block) + kHeader;
}

void release(void *p) noexcept
{
    if (!p)
        return;
    void *block = static_cast<char *>(p) - kHeader;
    g_live -= *static_cast<std::size_t *>(block);
    std::free(block);
}

/// Counts from its creation on: bytes allocated in all, and the most held at once beyond the start.
class Counter
{
public:
    Counter()
        : m_liveAtStart(g_live.load())
        , m_totalAtStart(g_total.load())
    {
        g_peak = m_liveAtStart;
    }
    std::size_t allocated() const { return g_total - m_totalAtStart; }
    std::size_t peakHeld() const { return g_peak - m_liveAtStart; }
    /// Bytes held now beyond those held at the start (0 when fewer).
    std::size_t held() const { return g_live > m_liveAtStart ? g_live - m_liveAtStart : 0; }

private:
    std::size_t m_liveAtStart;
    std::size_t m_totalAtStart;
};

} // namespace

void *operator new(std::size_t size)
{
    return allocate(size);
}
void *operator new[](std::size_t size)
{
    return allocate(size);
}
void operator delete(void *p) noexcept
{
    release(p);
}
void operator delete[](void *p) noexcept
{
    release(p);
}
void operator delete(void *p, std::size_t) noexcept
{
    release(p);
}
void operator delete[](void *p, std::size_t) noexcept
{
    release(p);
}

namespace sim::test {
namespace {

constexpr const char *kSerialOptions = "BaudRate = 115200 ; TerminationCharacter = 10";

/// "A:A;" repeated to @p bytes: each relative header would lengthen the path by one node.
std::string deepeningMessage(std::size_t bytes)
{
    std::string message;
    message.reserve(bytes);
    while (message.size() + 4 <= bytes)
        message += "A:A;";
    return message;
}

TEST(Memory, ParsingAMessageOfShortCommandsCostsWorkInProportionToItsLength)
{
    // Sixteen times the message may cost sixteen times the work, never its square.
    constexpr std::size_t kShort = 8 * 1024;
    constexpr std::size_t kLong = 16 * kShort;
    for (const char *unit : {"A:A;", "*IDN?;", "SYST:ERR?;"}) {
        SCOPED_TRACE(unit);
        std::string shortMessage;
        std::string longMessage;
        while (shortMessage.size() < kShort)
            shortMessage += unit;
        while (longMessage.size() < kLong)
            longMessage += unit;
        std::size_t work[2] = {};
        for (int i = 0; i < 2; ++i) {
            const Counter counter;
            const auto units = scpi::parseProgramMessage(i == 0 ? shortMessage : longMessage);
            work[i] = counter.allocated();
            ASSERT_FALSE(units.empty());
        }
        EXPECT_LT(work[1], 20 * work[0]) << work[0] << " bytes for " << kShort << ", " << work[1] << " for " << kLong;
    }
}

TEST(Memory, AMegabyteMessageIsRefusedWithoutBeingHeldWhole)
{
    const std::string message = deepeningMessage(1024 * 1024) + "\n";
    Instrument instrument;
    instrument.qv->setObserver(nullptr); // the fixture's log would keep the whole message
    SimulatedBackend backend(instrument.qv);
    auto session = backend.open(visa::ResourceName::parse("ASRL1::INSTR"), visa::SessionOptions::parse(kSerialOptions));
    const Counter counter;
    for (std::size_t at = 0; at < message.size(); at += 64 * 1024)
        session->Write(std::string_view(message).substr(at, 64 * 1024), true);
    // The framer keeps what fits the input buffer, the parser never sees the message.
    EXPECT_LT(counter.peakHeld(), 8 * Qv3310::kInputBufferSize);
    EXPECT_LT(counter.allocated(), 8 * Qv3310::kInputBufferSize);
    EXPECT_EQ(instrument.errors(), std::vector<int>{scpi::err::kInputBufferOverrun});
}

TEST(Memory, AHundredThousandPollsHoldNoMoreThanTheFirstThousand)
{
    Instrument instrument;
    instrument.qv->setObserver(nullptr); // nothing keeps a history unless a test asks
    SimulatedBackend backend(instrument.qv);
    auto session = backend.open(visa::ResourceName::parse("ASRL1::INSTR"), visa::SessionOptions::parse(kSerialOptions));
    configureProgramScan(instrument);
    session->Write("INITiate\n", true);

    const auto poll = [&](int times) {
        for (int i = 0; i < times; ++i) {
            session->Write("DATA:POINTS?\n", true);
            session->Read();
            // A client that sends and never reads, and commands that fail: bounded queues.
            if (i % 100 == 0) {
                session->Write("*IDN?\n", true);
                session->Write("BOGUS\n", true);
            }
        }
    };
    poll(10'000); // past the end of the scan: its forty readings are stored
    const Counter counter;
    poll(100'000);
    EXPECT_LT(counter.held(), 4 * 1024) << "bytes held after 100,000 polls";
}

} // namespace
} // namespace sim::test
