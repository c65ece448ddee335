#include <gtest/gtest.h>

#include <stdexcept>

#include "visa/sessionoptions.h"
#include "support/serialoptions.h"
#include "support/failure.h"

namespace {

using namespace visa;

// The serial option text the program passes, stray closing quote and double blank included.
using support::kSerialOptions;

TEST(SessionOptions, TheSerialOptionTextSetsEverySetting)
{
    const auto o = SessionOptions::parse(kSerialOptions);
    EXPECT_EQ(o.timeoutMs, 10000);
    EXPECT_TRUE(o.sendEndEnabled);
    EXPECT_EQ(o.terminationCharacter, '\n');
    EXPECT_TRUE(o.terminationCharacterEnabled);
    EXPECT_EQ(o.baudRate, 115200);
    EXPECT_EQ(o.dataBits, 8);
    EXPECT_EQ(o.endIn, SerialEnd::TermChar);
    EXPECT_EQ(o.endOut, SerialEnd::None);
    EXPECT_EQ(o.flowControl, FlowControl::XonXoff);
    EXPECT_EQ(o.parity, Parity::None);
    EXPECT_EQ(o.stopBits, StopBits::One);
}

TEST(SessionOptions, EmptyTextGivesTheDefaults)
{
    const auto o = SessionOptions::parse("");
    EXPECT_FALSE(o.timeoutMs);
    EXPECT_EQ(o.timeoutOrDefault(), SessionOptions::kDefaultTimeoutMs);
    EXPECT_FALSE(o.terminationCharacterEnabled);
    EXPECT_EQ(o.baudRate, 9600);
}

TEST(SessionOptions, UnknownNamesEmptyItemsAndCaseDoNotMatter)
{
    const auto o = SessionOptions::parse(";; Simulate = TRUE ; baudrate=19200;PARITY = asrl_par_even ;");
    EXPECT_EQ(o.baudRate, 19200);
    EXPECT_EQ(o.parity, Parity::Even);
}

TEST(SessionOptions, BadValuesAndMalformedItemsNameWhatIsWrong)
{
    const std::pair<const char *, const char *> cases[] = {
        {"BaudRate = fast", "BaudRate"},
        {"BaudRate = 0", "BaudRate"},
        {"BaudRate = 9600x", "BaudRate"},
        {"Timeout = -1", "Timeout"},
        {"DataBits = 9", "DataBits"},
        {"TerminationCharacter = 256", "TerminationCharacter"},
        {"SendEndEnabled = maybe", "SendEndEnabled"},
        {"Parity = EVEN", "Parity"},
        {"StopBits = 2", "StopBits"},
        {"Timeout 10000", "Timeout 10000"},
        {" = 5", "no name"},
    };
    for (const auto &[text, named] : cases) {
        SCOPED_TRACE(text);
        EXPECT_THAT([text = text] { SessionOptions::parse(text); },
                    support::FailsSaying<std::invalid_argument>({named}));
    }
}

} // namespace
