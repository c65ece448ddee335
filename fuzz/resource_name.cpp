// ResourceName::parse returns a name within its ranges or throws std::invalid_argument; an
// accepted name's canonical() parses to the same name, the case of the text does not matter, and
// ResourceManager::Open hands the backend exactly that name (or fails with VisaError).
// Input: the resource text, then optionally LF and the option text for Open.

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "check.h"
#include "support/scriptedsession.h"
#include "visa/resourcemanager.h"
#include "visa/resourcename.h"
#include "visa/sessionoptions.h"
#include "visa/visaerror.h"

namespace {

using visa::ResourceName;

std::optional<ResourceName> parsed(std::string_view text)
{
    return fuzz::parsedOrRefused([](std::string_view t) { return ResourceName::parse(t); }, text);
}

/// Records what Open asked for.
class RecordingBackend final : public visa::Backend
{
public:
    std::unique_ptr<visa::IMessage> open(const ResourceName &name, const visa::SessionOptions &options) override
    {
        opened = name;
        this->options = options;
        return std::make_unique<support::ScriptedSession>(m_script);
    }

    std::optional<ResourceName> opened;
    std::optional<visa::SessionOptions> options;

private:
    support::Script m_script;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    const std::size_t lf = input.find('\n');
    const std::string_view text = input.substr(0, lf);
    const std::string_view optionText = lf == std::string_view::npos ? std::string_view{} : input.substr(lf + 1);

    const std::optional<ResourceName> name = parsed(text);
    for (bool upper : {true, false}) {
        const std::optional<ResourceName> cased = parsed(fuzz::withCase(text, upper));
        FUZZ_CHECK(cased == name, std::string("the ") + (upper ? "upper" : "lower")
                                      + "-case name reads differently: " + fuzz::shown(text));
    }
    if (name) {
        FUZZ_CHECK(name->board <= 999, "board " + std::to_string(name->board));
        if (name->type == visa::InterfaceType::Gpib) {
            FUZZ_CHECK(name->primaryAddress <= 30, "primary address " + std::to_string(name->primaryAddress));
            FUZZ_CHECK(!name->secondaryAddress || *name->secondaryAddress <= 30,
                       "secondary address " + std::to_string(name->secondaryAddress.value_or(0)));
        } else {
            FUZZ_CHECK(name->primaryAddress == 0 && !name->secondaryAddress, "a serial name with an address");
        }
        const std::string canonical = name->canonical();
        const std::optional<ResourceName> reread = parsed(canonical);
        FUZZ_CHECK(reread == name, "canonical " + canonical + " reads differently from " + fuzz::shown(text));
        FUZZ_CHECK(reread->canonical() == canonical, "canonical of canonical " + canonical + " differs");
    }

    std::optional<visa::SessionOptions> options;
    try {
        options = visa::SessionOptions::parse(optionText);
    } catch (const std::invalid_argument &) {
    }
    auto backend = std::make_shared<RecordingBackend>();
    visa::ResourceManager rm(backend);
    try {
        const std::unique_ptr<visa::IMessage> session = rm.Open(std::string(text), 0, 2000, std::string(optionText));
        FUZZ_CHECK(name && options, "opened an invalid name or option text: " + fuzz::shown(input));
        FUZZ_CHECK(backend->opened == name, "the backend was asked for another name than " + fuzz::shown(text));
        FUZZ_CHECK(session != nullptr, "Open gave no session");
    } catch (const visa::VisaError &e) {
        FUZZ_CHECK(!name || !options, std::string("refused a valid name and option text: ") + e.what());
        // A long name may be shown by its start only.
        const std::string_view shown = e.resource();
        const bool named = shown == text
                           || (shown.ends_with("...") && shown.size() > 3
                               && text.starts_with(shown.substr(0, shown.size() - 3)));
        FUZZ_CHECK(e.operation() == "Open" && named, "failure names operation " + e.operation() + ", resource "
                                                         + fuzz::shown(shown) + ", for " + fuzz::shown(text));
        FUZZ_CHECK(!backend->opened, "the backend was asked to open a refused name");
    } catch (const std::exception &e) {
        FUZZ_CHECK(false, std::string("Open threw something else than VisaError: ") + e.what());
    }
    return 0;
}
