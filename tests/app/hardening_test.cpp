// What an operator may type and what a faulty instrument or a broken cable may send: each ends in
// the program's own outcome or a message that says what was wrong, never a crash or a hang.

#include <QCoreApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTranslator>

#include <string_view>

#include "support/windowfixture.h"
#include "support/printto.h"

namespace {

struct AddressCase
{
    const char *name;
    QString address;
    bool opens; ///< a verified session results
    QString message; ///< otherwise a part of the one message shown
};

// Test names show the case, not its bytes.
using support::PrintTo;

class TypedAddress : public WindowTest, public ::testing::WithParamInterface<AddressCase>
{
};

TEST_P(TypedAddress, GetsTheProgramsOutcomeOrAClearRefusal)
{
    const AddressCase &c = GetParam();
    start();
    window->ioSelect->setText(c.address);
    window->SelectIO->click();

    if (c.opens) {
        EXPECT_TRUE(platform.messages.isEmpty()) << platform.messages.join("|").toStdString();
        EXPECT_TRUE(window->ioOpen);
        EXPECT_FALSE(window->ended());
        return;
    }
    ASSERT_EQ(platform.messages.size(), 1);
    EXPECT_TRUE(platform.messages.front().contains(c.message)) << platform.messages.front().toStdString();
    EXPECT_LT(platform.messages.front().size(), 400) << "a refusal stays readable";
    EXPECT_TRUE(window->ended());
    EXPECT_TRUE(log->messages().empty());
}

const QString kLong = "GPIB0::" + QString(5000, '9');

INSTANTIATE_TEST_SUITE_P(
    Addresses, TypedAddress,
    ::testing::Values(AddressCase{"Empty", "", false, "No Resources found"},
                      AddressCase{"Blanks", "   ", false, "No Resources found"},
                      AddressCase{"LowerCase", "gpib0::9", true, {}}, AddressCase{"SerialLowerCase", "asrl1", true, {}},
                      AddressCase{"SerialWithSuffix", "ASRL1::INSTR", false,
                                  "\"ASRL1::INSTR::INSTR\" is not a valid resource name"},
                      AddressCase{"GpibWithSuffix", "GPIB0::9::INSTR", true, {}},
                      AddressCase{"Network", "TCPIP0::10.0.0.1::INSTR", false, "No Resources found"},
                      AddressCase{"BlankInFront", " GPIB0::9", false, "is not a valid resource name"},
                      AddressCase{"VeryLong", kLong, false, "is out of range"},
                      AddressCase{"FullWidthLetters",
                                  QString::fromUtf8("\xEF\xBC\xA7\xEF\xBC\xB0\xEF\xBC\xA9\xEF\xBC\xA2"
                                                    "0::9"),
                                  false, "No Resources found"},
                      AddressCase{"NonAsciiDigit", QString::fromUtf8("GPIB0::\xEF\xBC\x99"), false, "primary address"},
                      AddressCase{"PathLike", "ASRL../../X", false, "serial port number"},
                      AddressCase{"PathAfterPort", "ASRL1/../../dev/sda", false, "is not a valid resource name"},
                      AddressCase{"BothKinds", "GPIB0::9ASRL", false, "is not a valid resource name"},
                      AddressCase{"NoSuchPort", "ASRL7", false, "Open on ASRL7::INSTR failed"}),
    [](const auto &info) { return std::string(info.param.name); });

struct ReplyCase
{
    const char *name;
    const char *command; ///< whose reply is replaced
    std::string reply;
    const char *message; ///< a part of the one message shown
    bool ends = true; ///< false for the one refusal the program survives
};

// Test names show the case, not its bytes.

class FaultyReply : public WindowTest, public ::testing::WithParamInterface<ReplyCase>
{
};

TEST_P(FaultyReply, EndsInAMessageSayingWhatWasWrong)
{
    const ReplyCase &c = GetParam();
    start();
    backend->replyOverrides[c.command] = c.reply;
    window->GetReadings->click();

    ASSERT_EQ(platform.messages.size(), 1) << platform.messages.join("\n---\n").toStdString();
    EXPECT_TRUE(platform.messages.front().contains(c.message)) << platform.messages.front().toStdString();
    EXPECT_EQ(window->ended(), c.ends);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Replies, FaultyReply,
    ::testing::Values(
        ReplyCase{"EmptyIdentification", "*IDN?", "", "Wrong instrument addressed!", false},
        ReplyCase{"BinaryIdentification", "*IDN?", "\x00\xff\x13\x11"s, "Wrong instrument addressed!", false},
        ReplyCase{"EmptyNumber", "INSTrument:DMM:INSTalled?", "\n",
                  "ReadNumber (reply to \"INSTrument:DMM:INSTalled?\") on GPIB0::9::INSTR failed: no number"},
        ReplyCase{"BinaryNumber", "INSTrument:DMM?", "\x01\xfe\n", "failed: no number in reply \"\\x01\\xFE\\n\""},
        ReplyCase{"NumberTooLargeForItsType", "ROUTe:SCAN:SIZE?", "+1.00000000E+05\n",
                  "value out of range for a 16-bit integer in reply \"+1.00000000E+05\\n\""},
        ReplyCase{"CountTooLarge", "DATA:POINTS?", "+3000000000\n", "value out of range for a 32-bit integer"},
        ReplyCase{"NoNumberWhilePolling", "DATA:POINTS?", "busy\n", "ReadNumber (reply to \"DATA:POINTS?\")"},
        ReplyCase{"ReadingWithTwoFields", "DATA:REMove? 1", "+2.31E+01,+0.27\n",
                  "Reading 1 from GPIB0::9 has 2 field(s); value, time and channel were expected"},
        ReplyCase{"EmptyReading", "DATA:REMove? 1", "\n", "Reading 1 from GPIB0::9 has 1 field(s)"},
        ReplyCase{"DateShorterThanItsTerminator", "SYSTem:DATE?", "",
                  "The reply \"\" from GPIB0::9 is shorter than its line terminator (LF)."},
        ReplyCase{"ErrorNumberOutsideItsType", "SYSTem:ERRor?", "-99999,\"Bad\"\n",
                  "gives error number -99999, which is outside the 16-bit range"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(WindowTest, AnErrorQueueThatNeverEmptiesEndsAfterABoundedNumberOfBoxes)
{
    start();
    backend->replyOverrides["SYSTem:ERRor?"] = "-100,\"Command error\"\n";
    window->GetReadings->click();

    ASSERT_GE(platform.messages.size(), 2);
    EXPECT_LE(platform.messages.size(), 40);
    EXPECT_EQ(platform.messages.front(),
              "Error in: RunProg\nError Number: -100\nError Message: -100,\"Command error\"\n");
    EXPECT_TRUE(platform.messages.back().contains("did not empty")) << platform.messages.back().toStdString();
    EXPECT_TRUE(window->ended());
    EXPECT_EQ(backend->events.back(), "release GPIB0::9::INSTR");
}

/// Marks every text of the window's own translation context, so a test sees which went through tr().
class MarkingTranslator : public QTranslator
{
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        if (std::string_view(context) != "VISAComExample")
            return {};
        return QStringLiteral("[tr] ") + QString::fromUtf8(sourceText);
    }
};

TEST_F(WindowTest, EveryFailureOfTheRoutinesIsShownInTheOperatorsLanguage)
{
    MarkingTranslator translator;
    ASSERT_TRUE(QCoreApplication::installTranslator(&translator));
    struct Removal
    {
        QTranslator *translator;
        ~Removal() { QCoreApplication::removeTranslator(translator); }
    } removal{&translator};

    struct Case
    {
        const char *command;
        std::string reply;
        const char *begins; ///< the last message shown begins with this
    };
    const Case cases[] = {
        {"SYSTem:ERRor?", "-99999,\"Bad\"\n", "[tr] The reply to \"SYSTem:ERRor?\" gives error number -99999, which"},
        {"SYSTem:ERRor?", "-100,\"Command error\"\n", "[tr] The error queue of GPIB0::9 did not empty"},
        {"SYSTem:DATE?", "", "[tr] The reply \"\" from GPIB0::9 is shorter than its line terminator ([tr] LF)."},
        {"ROUTe:SCAN:SIZE?", "+25\n",
         "[tr] The reply to \"ROUTe:SCAN:SIZE?\" from GPIB0::9 gives [tr] a scan size of 25"},
        {"TRIGger:TIMer?", "+1.0E+09\n", "[tr] The replies to \"TRIGger:COUNt?\" (2), \"TRIGger:TIMer?\" (1E+09 s)"},
        {"DATA:POINTS?", "+41\n", "[tr] The instrument at GPIB0::9 stored 41 readings of 40 expected."},
        {"DATA:REMove? 1", "\n", "[tr] Reading 1 from GPIB0::9 has 1 field(s)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.begins);
        start();
        platform.messages.clear();
        backend->replyOverrides[c.command] = c.reply;
        window->GetReadings->click();
        ASSERT_FALSE(platform.messages.isEmpty());
        EXPECT_TRUE(platform.messages.back().startsWith(QString::fromUtf8(c.begins)))
            << platform.messages.back().toStdString();
        EXPECT_TRUE(window->ended());
    }
}

TEST_F(WindowTest, ASerialReadingWithoutItsCarriageReturnKeepsItsWholeChannel)
{
    start();
    window->ioSelect->setText("ASRL1");
    backend->replyOverrides["DATA:REMove? 1"] = "+2.31E+01,+0.27,101\n";
    window->GetReadings->click();
    ASSERT_TRUE(platform.messages.isEmpty()) << platform.messages.join("\n").toStdString();
    ASSERT_EQ(window->List1->count(), 47);
    EXPECT_EQ(window->List1->item(7)->text(), " 1\t101\t+2.31E+01\t+0.27");
}

} // namespace
