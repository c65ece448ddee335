#include "visa/gpibbackend.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <stdexcept>

#include "visa/gpibapi.h"
#include "visa/sessionbase.h"
#include "visa/sharedlibrary.h"
#include "visa/visaerror.h"

namespace visa {

using namespace visa::gpib;

struct GpibBackend::Library
{
    std::shared_ptr<SharedLibrary> lib;
    IbdevFn ibdev = nullptr;
    IbwrtFn ibwrt = nullptr;
    IbrdFn ibrd = nullptr;
    IbclrFn ibclr = nullptr;
    IbonlFn ibonl = nullptr;
    IbeotFn ibeot = nullptr; ///< only needed for a write without END; older libraries may lack it
    IblnFn ibln = nullptr; ///< only needed to look for listeners
    ThreadIbstaFn threadIbsta = nullptr;
    ThreadIberrFn threadIberr = nullptr;
    ThreadIbcntlFn threadIbcntl = nullptr;

    explicit Library(const std::string &path)
        : lib(SharedLibrary::open(path))
    {
        ibdev = lib->function<IbdevFn>("ibdev");
        ibwrt = lib->function<IbwrtFn>("ibwrt");
        ibrd = lib->function<IbrdFn>("ibrd");
        ibclr = lib->function<IbclrFn>("ibclr");
        ibonl = lib->function<IbonlFn>("ibonl");
        ibeot = reinterpret_cast<IbeotFn>(lib->optionalSymbol("ibeot"));
        ibln = reinterpret_cast<IblnFn>(lib->optionalSymbol("ibln"));
        threadIbsta = lib->function<ThreadIbstaFn>("ThreadIbsta");
        threadIberr = lib->function<ThreadIberrFn>("ThreadIberr");
        threadIbcntl = lib->function<ThreadIbcntlFn>("ThreadIbcntl");
    }

    /// "ibwrt failed: ENOL, no listener at the address (ibsta 0x8100)".
    std::string describe(const char *function, int status) const
    {
        const int error = threadIberr();
        char code[32];
        std::snprintf(code, sizeof code, " (ibsta 0x%04X)", static_cast<unsigned>(status) & 0xFFFFu);
        return std::string(function) + " failed: " + errorText(error) + code;
    }

    std::string errorText(int error) const
    {
        switch (error) {
        case EDVR: {
            const long osError = threadIbcntl();
            return "EDVR, system error (" + std::string(std::strerror(static_cast<int>(osError)))
                   + "; is the GPIB board configured with gpib_config?)";
        }
        case ECIC: return "ECIC, the board is not controller-in-charge";
        case ENOL: return "ENOL, no listener at the address (is the instrument on and at that address?)";
        case EADR: return "EADR, the board is not addressed correctly";
        case EARG: return "EARG, invalid argument";
        case ESAC: return "ESAC, the board is not system controller";
        case EABO: return "EABO, I/O aborted";
        case ENEB: return "ENEB, no such GPIB board";
        case EDMA: return "EDMA, DMA error";
        case EOIP: return "EOIP, asynchronous I/O in progress";
        case ECAP: return "ECAP, capability not supported";
        case EFSO: return "EFSO, file system error";
        case EBUS: return "EBUS, bus error";
        case ESTB: return "ESTB, serial poll status bytes lost";
        case ESRQ: return "ESRQ, SRQ line stuck on";
        case ETAB: return "ETAB, table problem";
        }
        return "iberr " + std::to_string(error);
    }
};

namespace {

constexpr std::size_t kFirstReadSize = 1024;
constexpr std::size_t kLargestReadSize = 1024 * 1024;

/// @brief One device descriptor of linux-gpib.
class GpibSession : public SessionBase
{
public:
    GpibSession(std::shared_ptr<GpibBackend::Library> library, std::string resource, int ud,
                const SessionOptions &options)
        : SessionBase(std::move(resource), options)
        , m_library(std::move(library))
        , m_ud(ud)
        , m_sendEnd(options.sendEndEnabled)
        , m_eot(options.sendEndEnabled)
        , m_termChar(options.terminationCharacterEnabled ? std::optional<char>(char(options.terminationCharacter))
                                                         : std::nullopt)
    {
    }

    ~GpibSession() override
    {
        if (markClosed())
            m_library->ibonl(m_ud, 0);
    }

    void Write(std::string_view data, bool end) override
    {
        checkOpen("Write");
        const bool wantEnd = end && m_sendEnd;
        if (wantEnd != m_eot) {
            if (!m_library->ibeot)
                fail("Write", m_library->lib->path() + " has no ibeot, needed to write without END");
            check("Write", "ibeot", m_library->ibeot(m_ud, wantEnd ? 1 : 0));
            m_eot = wantEnd;
        }
        const int status = m_library->ibwrt(m_ud, data.data(), static_cast<long>(data.size()));
        if (status & ERR) {
            if (status & TIMO)
                fail("Write", timeout().expired() + ": the instrument did not take the command (ibwrt)");
            fail("Write", m_library->describe("ibwrt", status));
        }
        const long sent = m_library->threadIbcntl();
        if (sent != static_cast<long>(data.size()))
            fail("Write", "ibwrt sent " + std::to_string(sent) + " of " + std::to_string(data.size()) + " bytes");
    }

    std::string Read() override
    {
        checkOpen("Read");
        // ibrd ends at END (EOI, or the EOS byte when REOS is on); without it the rest follows.
        return m_reader.read(
            [this](char *buffer, std::size_t capacity, std::chrono::milliseconds) {
                const long count = static_cast<long>(capacity);
                const int status = m_library->ibrd(m_ud, buffer, count);
                const auto got = static_cast<std::size_t>(std::clamp(m_library->threadIbcntl(), 0L, count));
                if (status & ERR) {
                    if (status & TIMO)
                        return Chunk{got, false, true, "ibrd"};
                    fail("Read", m_library->describe("ibrd", status));
                }
                return Chunk{got, (status & END) != 0, false, {}};
            },
            m_termChar, timeout(), resource());
    }

    void Clear() override
    {
        checkOpen("Clear");
        m_reader.discard();
        check("Clear", "ibclr", m_library->ibclr(m_ud));
    }

    void Close() override
    {
        if (markClosed())
            check("Close", "ibonl", m_library->ibonl(m_ud, 0));
    }

private:
    void check(const char *operation, const char *function, int status) const
    {
        if (status & ERR)
            fail(operation, m_library->describe(function, status));
    }

    std::shared_ptr<GpibBackend::Library> m_library;
    int m_ud = -1;
    bool m_sendEnd = true; ///< END allowed by the option text
    bool m_eot = true; ///< what the descriptor's EOT setting is now
    std::optional<char> m_termChar;
    ReplyReader m_reader{kFirstReadSize, kLargestReadSize};
};

} // namespace

GpibBackend::GpibBackend(std::string libraryPath)
    : m_libraryPath(std::move(libraryPath))
{
}

GpibBackend::~GpibBackend() = default;

void GpibBackend::loadLibrary()
{
    if (!m_library)
        m_library = std::make_shared<Library>(m_libraryPath);
}

std::vector<GpibBackend::Board> GpibBackend::findBoards(unsigned boards)
{
    loadLibrary();
    std::vector<Board> found;
    for (unsigned index = 0; index < boards; ++index) {
        // A device descriptor at the board's own address 0 opens only when the board is there.
        constexpr int kProbeTimeout = 11; // T1s
        const int ud = m_library->ibdev(int(index), 0, 0, kProbeTimeout, 1, 0);
        if (ud < 0)
            continue;
        Board board{index, {}, {}};
        if (!m_library->ibln) {
            board.note = m_library->lib->path() + " has no ibln to look for listeners with";
        } else {
            for (int pad = 1; pad <= 30; ++pad) {
                short listener = 0;
                const int status = m_library->ibln(ud, pad, NO_SAD, &listener);
                if (status & ERR) {
                    board.note = m_library->describe("ibln", status);
                    break;
                }
                if (listener)
                    board.listeners.push_back(unsigned(pad));
            }
        }
        m_library->ibonl(ud, 0);
        found.push_back(std::move(board));
    }
    return found;
}

int GpibBackend::timeoutCode(int ms)
{
    // The upper bound of each code T10us .. T1000s, in microseconds.
    static constexpr long long kStepsUs[] = {
        10,      30,        100,       300,        1'000,      3'000,       10'000,      30'000,        100'000,
        300'000, 1'000'000, 3'000'000, 10'000'000, 30'000'000, 100'000'000, 300'000'000, 1'000'000'000,
    };
    const long long us = static_cast<long long>(std::max(ms, 0)) * 1000;
    for (size_t i = 0; i < std::size(kStepsUs); ++i)
        if (kStepsUs[i] >= us)
            return static_cast<int>(i) + 1;
    return T1000s;
}

std::unique_ptr<IMessage> GpibBackend::open(const ResourceName &name, const SessionOptions &options)
{
    const std::string resource = name.canonical();
    if (name.type != InterfaceType::Gpib)
        throw VisaError("Open", resource, "not a GPIB resource");
    try {
        loadLibrary();
    } catch (const std::runtime_error &e) {
        throw VisaError("Open", resource,
                        std::string("GPIB needs linux-gpib (") + kDefaultLibrary + ") or a VISA library: " + e.what());
    }

    const int timeoutMs = IoTimeout::of(options).ms;
    const int sad = name.secondaryAddress ? kSecondaryAddressBase + int(*name.secondaryAddress) : 0;
    const int eos = options.terminationCharacterEnabled ? REOS | options.terminationCharacter : 0;
    const int ud = m_library->ibdev(int(name.board), int(name.primaryAddress), sad, timeoutCode(timeoutMs),
                                    options.sendEndEnabled ? 1 : 0, eos);
    if (ud < 0)
        throw VisaError("Open", resource, m_library->describe("ibdev", m_library->threadIbsta()));
    return std::make_unique<GpibSession>(m_library, resource, ud, options);
}

} // namespace visa
