#include "visa/gpibbackend.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <stdexcept>

#include "visa/gpibapi.h"
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

constexpr long kFirstReadSize = 1024;
constexpr long kLargestReadSize = 1024 * 1024;

/// @brief One device descriptor of linux-gpib.
class GpibSession : public IMessage
{
public:
    GpibSession(std::shared_ptr<GpibBackend::Library> library, std::string resource, int ud, int timeoutMs,
                const SessionOptions &options)
        : m_library(std::move(library))
        , m_resource(std::move(resource))
        , m_ud(ud)
        , m_timeoutMs(timeoutMs)
        , m_sendEnd(options.sendEndEnabled)
        , m_eot(options.sendEndEnabled)
        , m_termChar(options.terminationCharacterEnabled ? std::optional<char>(char(options.terminationCharacter))
                                                         : std::nullopt)
    {
    }

    ~GpibSession() override
    {
        if (m_open)
            m_library->ibonl(m_ud, 0);
    }

    std::string ResourceName() const override { return m_resource; }

    void Write(std::string_view data, bool end) override
    {
        checkOpen("Write");
        const bool wantEnd = end && m_sendEnd;
        if (wantEnd != m_eot) {
            if (!m_library->ibeot)
                throw VisaError("Write", m_resource, m_library->lib->path()
                                                         + " has no ibeot, needed to write without END");
            check("Write", "ibeot", m_library->ibeot(m_ud, wantEnd ? 1 : 0));
            m_eot = wantEnd;
        }
        const int status = m_library->ibwrt(m_ud, data.data(), static_cast<long>(data.size()));
        if (status & ERR) {
            if (status & TIMO)
                throw VisaError("Write", m_resource, "time-out after " + std::to_string(m_timeoutMs)
                                                         + " ms: the instrument did not take the command (ibwrt)");
            throw VisaError("Write", m_resource, m_library->describe("ibwrt", status));
        }
        const long sent = m_library->threadIbcntl();
        if (sent != static_cast<long>(data.size()))
            throw VisaError("Write", m_resource, "ibwrt sent " + std::to_string(sent) + " of "
                                                     + std::to_string(data.size()) + " bytes");
    }

    std::string Read() override
    {
        checkOpen("Read");
        std::string reply;
        long chunk = kFirstReadSize;
        for (;;) {
            const size_t used = reply.size();
            reply.resize(used + static_cast<size_t>(chunk));
            const int status = m_library->ibrd(m_ud, reply.data() + used, chunk);
            const long got = std::clamp(m_library->threadIbcntl(), 0L, chunk);
            reply.resize(used + static_cast<size_t>(got));
            if (status & ERR) {
                if (status & TIMO)
                    throw VisaError("Read", m_resource, "time-out after " + std::to_string(m_timeoutMs)
                                                            + " ms: no complete reply (ibrd)");
                throw VisaError("Read", m_resource, m_library->describe("ibrd", status));
            }
            if (status & END)
                return reply;
            if (m_termChar && got > 0 && reply.back() == *m_termChar)
                return reply;
            chunk = std::min(chunk * 2, kLargestReadSize);
        }
    }

    void Clear() override
    {
        checkOpen("Clear");
        check("Clear", "ibclr", m_library->ibclr(m_ud));
    }

    void Close() override
    {
        if (!m_open)
            return;
        m_open = false;
        check("Close", "ibonl", m_library->ibonl(m_ud, 0));
    }

private:
    void checkOpen(const char *operation) const
    {
        if (!m_open)
            throw VisaError(operation, m_resource, "the session is closed");
    }

    void check(const char *operation, const char *function, int status) const
    {
        if (status & ERR)
            throw VisaError(operation, m_resource, m_library->describe(function, status));
    }

    std::shared_ptr<GpibBackend::Library> m_library;
    std::string m_resource;
    int m_ud = -1;
    int m_timeoutMs = GpibBackend::kDefaultTimeoutMs;
    bool m_sendEnd = true; ///< END allowed by the option text
    bool m_eot = true; ///< what the descriptor's EOT setting is now
    std::optional<char> m_termChar;
    bool m_open = true;
};

} // namespace

GpibBackend::GpibBackend(std::string libraryPath)
    : m_libraryPath(std::move(libraryPath))
{
}

GpibBackend::~GpibBackend() = default;

int GpibBackend::timeoutCode(int ms)
{
    // The upper bound of each code T10us .. T1000s, in microseconds.
    static constexpr long long kStepsUs[] = {
        10,        30,        100,        300,        1'000,       3'000,       10'000,        30'000,        100'000,
        300'000,   1'000'000, 3'000'000,  10'000'000, 30'000'000,  100'000'000, 300'000'000,   1'000'000'000,
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
    if (!m_library) {
        try {
            m_library = std::make_shared<Library>(m_libraryPath);
        } catch (const std::runtime_error &e) {
            throw VisaError("Open", resource, std::string("GPIB needs linux-gpib (") + kDefaultLibrary
                                                  + ") or a VISA library: " + e.what());
        }
    }

    const int timeoutMs = options.timeoutMs.value_or(kDefaultTimeoutMs);
    const int sad = name.secondaryAddress ? kSecondaryAddressBase + int(*name.secondaryAddress) : 0;
    const int eos = options.terminationCharacterEnabled ? REOS | options.terminationCharacter : 0;
    const int ud = m_library->ibdev(int(name.board), int(name.primaryAddress), sad, timeoutCode(timeoutMs),
                                    options.sendEndEnabled ? 1 : 0, eos);
    if (ud < 0)
        throw VisaError("Open", resource, m_library->describe("ibdev", m_library->threadIbsta()));
    return std::make_unique<GpibSession>(m_library, resource, ud, timeoutMs, options);
}

} // namespace visa
