#include "visa/systemvisa.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <stdexcept>

#include "visa/sessionbase.h"
#include "visa/sharedlibrary.h"
#include "visa/visaapi.h"
#include "visa/visaerror.h"

namespace visa {

using namespace visa::c;

/// The loaded library, its functions, and the default resource manager session every
/// instrument session of this backend is opened from.
struct SystemVisaBackend::Library
{
    std::shared_ptr<SharedLibrary> lib;
    ViOpenDefaultRMFn viOpenDefaultRM = nullptr;
    ViOpenFn viOpen = nullptr;
    ViSetAttributeFn viSetAttribute = nullptr;
    ViWriteFn viWrite = nullptr;
    ViReadFn viRead = nullptr;
    ViClearFn viClear = nullptr;
    ViCloseFn viClose = nullptr;
    ViStatusDescFn viStatusDesc = nullptr;
    std::optional<ViSession> defaultRm;

    Library() = default;
    Library(const Library &) = delete; // a copy would close the resource manager twice
    Library &operator=(const Library &) = delete;
    ~Library()
    {
        if (defaultRm)
            viClose(*defaultRm);
    }

    /// "viRead returned 0xBFFF0015: Timeout expired before operation completed."
    std::string describe(ViObject vi, const char *function, ViStatus status) const
    {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(status));
        std::string text = std::string(function) + " returned " + code;
        ViChar description[kStatusDescSize] = {};
        if (viStatusDesc(vi, status, description) >= VI_SUCCESS) {
            description[kStatusDescSize - 1] = '\0';
            if (description[0] != '\0')
                text += std::string(": ") + description;
        }
        return text;
    }

    ViSession resourceManager(const std::string &resource)
    {
        if (!defaultRm) {
            ViSession rm = 0;
            const ViStatus status = viOpenDefaultRM(&rm);
            if (status < VI_SUCCESS)
                throw VisaError("Open", resource,
                                describe(0, "viOpenDefaultRM", status) + " (VISA library " + lib->path() + ")");
            defaultRm = rm;
        }
        return *defaultRm;
    }
};

namespace {

constexpr std::size_t kFirstReadSize = 1024;
constexpr std::size_t kLargestReadSize = 1024 * 1024;

ViAttrState parityValue(Parity p)
{
    switch (p) {
    case Parity::None: return VI_ASRL_PAR_NONE;
    case Parity::Odd: return VI_ASRL_PAR_ODD;
    case Parity::Even: return VI_ASRL_PAR_EVEN;
    case Parity::Mark: return VI_ASRL_PAR_MARK;
    case Parity::Space: return VI_ASRL_PAR_SPACE;
    }
    return VI_ASRL_PAR_NONE;
}

ViAttrState stopBitsValue(StopBits s)
{
    switch (s) {
    case StopBits::One: return VI_ASRL_STOP_ONE;
    case StopBits::OneAndHalf: return VI_ASRL_STOP_ONE5;
    case StopBits::Two: return VI_ASRL_STOP_TWO;
    }
    return VI_ASRL_STOP_ONE;
}

ViAttrState flowValue(FlowControl f)
{
    switch (f) {
    case FlowControl::None: return VI_ASRL_FLOW_NONE;
    case FlowControl::XonXoff: return VI_ASRL_FLOW_XON_XOFF;
    case FlowControl::RtsCts: return VI_ASRL_FLOW_RTS_CTS;
    case FlowControl::DtrDsr: return VI_ASRL_FLOW_DTR_DSR;
    }
    return VI_ASRL_FLOW_NONE;
}

ViAttrState endValue(SerialEnd e)
{
    switch (e) {
    case SerialEnd::None: return VI_ASRL_END_NONE;
    case SerialEnd::LastBit: return VI_ASRL_END_LAST_BIT;
    case SerialEnd::TermChar: return VI_ASRL_END_TERMCHAR;
    case SerialEnd::Break: return VI_ASRL_END_BREAK;
    }
    return VI_ASRL_END_NONE;
}

/// @brief One instrument session opened through the system VISA library.
class SystemVisaSession : public SessionBase
{
public:
    SystemVisaSession(std::shared_ptr<SystemVisaBackend::Library> library, std::string resource, ViSession vi,
                      const SessionOptions &options)
        : SessionBase(std::move(resource), options)
        , m_library(std::move(library))
        , m_vi(vi)
        , m_sendEnd(options.sendEndEnabled)
        , m_sendEndAttribute(options.sendEndEnabled)
        , m_termChar(options.terminationCharacterEnabled ? std::optional<char>(char(options.terminationCharacter))
                                                         : std::nullopt)
    {
    }

    ~SystemVisaSession() override
    {
        if (markClosed())
            m_library->viClose(m_vi);
    }

    void Write(std::string_view data, bool end) override
    {
        checkOpen("Write");
        const bool wantEnd = end && m_sendEnd;
        if (wantEnd != m_sendEndAttribute) {
            check("Write", "viSetAttribute(VI_ATTR_SEND_END_EN)",
                  m_library->viSetAttribute(m_vi, VI_ATTR_SEND_END_EN, wantEnd ? VI_TRUE : VI_FALSE));
            m_sendEndAttribute = wantEnd;
        }
        const auto *bytes = reinterpret_cast<const ViByte *>(data.data());
        size_t done = 0;
        while (done < data.size()) {
            ViUInt32 written = 0;
            const auto count = static_cast<ViUInt32>(std::min<size_t>(data.size() - done, 0x7FFFFFFF));
            const ViStatus status = m_library->viWrite(m_vi, bytes + done, count, &written);
            if (status == VI_ERROR_TMO)
                fail("Write", timeout().expired() + ": the instrument did not take the command ("
                                  + m_library->describe(m_vi, "viWrite", status) + ")");
            check("Write", "viWrite", status);
            if (written == 0)
                fail("Write", "viWrite accepted no bytes");
            done += std::min<size_t>(written, count);
        }
    }

    std::string Read() override
    {
        checkOpen("Read");
        // VI_SUCCESS_MAX_CNT: the buffer filled before END or the termination character; the rest follows.
        return m_reader.read(
            [this](char *buffer, std::size_t capacity, std::chrono::milliseconds) {
                const auto count = static_cast<ViUInt32>(capacity);
                ViUInt32 got = 0;
                const ViStatus status = m_library->viRead(m_vi, reinterpret_cast<ViByte *>(buffer), count, &got);
                const std::size_t size = std::min(got, count);
                if (status == VI_ERROR_TMO)
                    return Chunk{size, false, true, m_library->describe(m_vi, "viRead", status)};
                check("Read", "viRead", status);
                return Chunk{size, status != VI_SUCCESS_MAX_CNT, false, {}};
            },
            m_termChar, timeout(), resource());
    }

    void Clear() override
    {
        checkOpen("Clear");
        m_reader.discard();
        check("Clear", "viClear", m_library->viClear(m_vi));
    }

    void Close() override
    {
        if (markClosed())
            check("Close", "viClose", m_library->viClose(m_vi));
    }

private:
    /// Warnings (positive status values) pass; only errors fail the operation.
    void check(const char *operation, const char *function, ViStatus status) const
    {
        if (status < VI_SUCCESS)
            fail(operation, m_library->describe(m_vi, function, status));
    }

    std::shared_ptr<SystemVisaBackend::Library> m_library;
    ViSession m_vi = 0;
    bool m_sendEnd = true; ///< END allowed by the option text
    bool m_sendEndAttribute = true; ///< what VI_ATTR_SEND_END_EN is set to now
    std::optional<char> m_termChar;
    ReplyReader m_reader{kFirstReadSize, kLargestReadSize};
};

} // namespace

std::shared_ptr<SystemVisaBackend> SystemVisaBackend::load(const std::string &path)
{
    auto library = std::make_shared<Library>();
    library->lib = SharedLibrary::open(path);
    const SharedLibrary &lib = *library->lib;
    library->viOpenDefaultRM = lib.function<ViOpenDefaultRMFn>("viOpenDefaultRM");
    library->viOpen = lib.function<ViOpenFn>("viOpen");
    library->viSetAttribute = lib.function<ViSetAttributeFn>("viSetAttribute");
    library->viWrite = lib.function<ViWriteFn>("viWrite");
    library->viRead = lib.function<ViReadFn>("viRead");
    library->viClear = lib.function<ViClearFn>("viClear");
    library->viClose = lib.function<ViCloseFn>("viClose");
    library->viStatusDesc = lib.function<ViStatusDescFn>("viStatusDesc");
    return std::shared_ptr<SystemVisaBackend>(new SystemVisaBackend(std::move(library)));
}

const std::vector<std::string> &SystemVisaBackend::libraryNames()
{
    static const std::vector<std::string> kNames = {
        "libvisa.so",
        "libvisa.so.0",
        "libvisa.so.1",
        "/usr/local/vxipnp/linux/lib64/libvisa.so",
        "/usr/local/vxipnp/linux/lib/libvisa.so",
        "/usr/local/vxipnp/linux/bin/libvisa.so",
    };
    return kNames;
}

std::shared_ptr<SystemVisaBackend> SystemVisaBackend::findInstalled(const std::vector<std::string> &names,
                                                                    std::vector<std::string> *skipped,
                                                                    std::vector<LibraryAttempt> *tried)
{
    for (const std::string &name : names) {
        // A name that does not load is simply not installed; one that loads but lacks a
        // function is a broken or foreign installation, worth telling about.
        try {
            SharedLibrary::open(name);
        } catch (const std::runtime_error &e) {
            if (tried)
                tried->push_back({name, LibraryAttempt::Result::NotFound, e.what()});
            continue;
        }
        try {
            auto found = load(name);
            if (tried)
                tried->push_back({name, LibraryAttempt::Result::Chosen, {}});
            return found;
        } catch (const std::runtime_error &e) {
            if (skipped)
                skipped->push_back(e.what());
            if (tried)
                tried->push_back({name, LibraryAttempt::Result::Unusable, e.what()});
        }
    }
    return nullptr;
}

SystemVisaBackend::SystemVisaBackend(std::shared_ptr<Library> library)
    : m_library(std::move(library))
{
}

SystemVisaBackend::~SystemVisaBackend() = default;

const std::string &SystemVisaBackend::libraryPath() const
{
    return m_library->lib->path();
}

std::unique_ptr<IMessage> SystemVisaBackend::open(const ResourceName &name, const SessionOptions &options)
{
    const std::string resource = name.canonical();
    const ViSession rm = m_library->resourceManager(resource);
    ViSession vi = 0;
    const ViStatus status = m_library->viOpen(rm, resource.c_str(), VI_NO_LOCK, VI_TMO_IMMEDIATE, &vi);
    if (status < VI_SUCCESS)
        throw VisaError("Open", resource, m_library->describe(rm, "viOpen", status));

    // The session owns vi from here, so a failed attribute closes it again.
    auto session = std::make_unique<SystemVisaSession>(m_library, resource, vi, options);
    const auto set = [&](const char *attributeName, ViAttr attribute, ViAttrState value) {
        const ViStatus s = m_library->viSetAttribute(vi, attribute, value);
        if (s < VI_SUCCESS)
            throw VisaError("Open", resource,
                            m_library->describe(vi, "viSetAttribute", s) + " (setting " + attributeName + " to "
                                + std::to_string(value) + ")");
    };
    // Every bus gets the same time-out: the option text's, else the default, never the library's own.
    set("VI_ATTR_TMO_VALUE", VI_ATTR_TMO_VALUE, static_cast<ViAttrState>(IoTimeout::of(options).ms));
    set("VI_ATTR_TERMCHAR", VI_ATTR_TERMCHAR, options.terminationCharacter);
    set("VI_ATTR_TERMCHAR_EN", VI_ATTR_TERMCHAR_EN, options.terminationCharacterEnabled ? VI_TRUE : VI_FALSE);
    set("VI_ATTR_SEND_END_EN", VI_ATTR_SEND_END_EN, options.sendEndEnabled ? VI_TRUE : VI_FALSE);
    if (name.type == InterfaceType::Serial) {
        set("VI_ATTR_ASRL_BAUD", VI_ATTR_ASRL_BAUD, static_cast<ViAttrState>(options.baudRate));
        set("VI_ATTR_ASRL_DATA_BITS", VI_ATTR_ASRL_DATA_BITS, static_cast<ViAttrState>(options.dataBits));
        set("VI_ATTR_ASRL_PARITY", VI_ATTR_ASRL_PARITY, parityValue(options.parity));
        set("VI_ATTR_ASRL_STOP_BITS", VI_ATTR_ASRL_STOP_BITS, stopBitsValue(options.stopBits));
        set("VI_ATTR_ASRL_FLOW_CNTRL", VI_ATTR_ASRL_FLOW_CNTRL, flowValue(options.flowControl));
        set("VI_ATTR_ASRL_END_IN", VI_ATTR_ASRL_END_IN, endValue(options.endIn));
        set("VI_ATTR_ASRL_END_OUT", VI_ATTR_ASRL_END_OUT, endValue(options.endOut));
    }
    return session;
}

} // namespace visa
