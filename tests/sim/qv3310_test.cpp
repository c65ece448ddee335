#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "instrumentfixture.h"
#include "sim/scpiparser.h"

namespace sim::test {
namespace {

TEST(Qv3310, AnswersEveryMnemonicFormAndCase)
{
    Instrument i;
    for (const char *query : {"SYSTem:CTYPe? 100", "SYST:CTYP? 100", "system:ctype? 100", ":Syst:CType? 100"})
        EXPECT_EQ(i.query(query), "QVTEK,QV3391,0,1.0") << query;
    for (const char *query : {"SYST:ERR?", "SYSTem:ERRor:NEXT?", "syst:err:next?"})
        EXPECT_EQ(i.query(query), "+0,\"No error\"") << query;
    for (const char *command : {"INIT", "INITiate:IMMediate", "init:imm"}) {
        i.send("*RST");
        i.send("ROUT:SCAN (@101)");
        i.send(command);
        i.clock->sleepFor(1s);
        EXPECT_EQ(i.query("DATA:POIN?"), "+1") << command;
    }
    EXPECT_EQ(i.errors(), std::vector<int>{});
}

TEST(Qv3310, CompoundMessagesKeepTheCurrentNode)
{
    Instrument i;
    i.send("TRIG:COUN 3;SOUR BUS;TIM 5");
    EXPECT_EQ(i.query("TRIG:COUN?;SOUR?;TIM?"), "+3.00000000E+00;BUS;+5.00000000E+00");
    EXPECT_EQ(i.query("ROUT:SCAN (@101:103);SCAN:SIZE?"), "+3");
    EXPECT_EQ(i.query("*RST;*OPC?"), "1");
    EXPECT_EQ(i.query("TRIG:COUN?"), "+1.00000000E+00");
    EXPECT_EQ(i.errors(), std::vector<int>{});

    // Without the leading colon ROUT lands under TRIG, and only that unit fails.
    EXPECT_EQ(i.query("TRIG:COUN 2;ROUT:SCAN:SIZE?;:ROUT:SCAN:SIZE?"), "+0");
    EXPECT_EQ(i.errors(), std::vector<int>{-113});
    EXPECT_EQ(i.query("TRIG:COUN?"), "+2.00000000E+00");
}

TEST(Qv3310, ErrorQueueIsFifoBoundedAndClearedByCls)
{
    Instrument i;
    EXPECT_EQ(i.query("SYSTem:ERRor?"), "+0,\"No error\"");

    i.send("BOGUS");
    i.send("TRIG:COUN 0");
    EXPECT_EQ(i.query("SYST:ERR:COUN?"), "+2");
    EXPECT_TRUE(i.query("SYST:ERR?").starts_with("-113,\"Undefined header"));
    EXPECT_TRUE(i.query("SYST:ERR?").starts_with("-222,\"Data out of range"));
    EXPECT_EQ(i.query("SYST:ERR?"), "+0,\"No error\"");

    for (int n = 0; n < 15; ++n)
        i.send("BOGUS");
    std::vector<int> expected(9, -113);
    expected.push_back(-350);
    EXPECT_EQ(i.errors(), expected);
    EXPECT_EQ(i.query("SYST:ERR?"), "+0,\"No error\"");

    i.send("BOGUS");
    i.send("*CLS");
    EXPECT_EQ(i.query("SYST:ERR?"), "+0,\"No error\"");
}

TEST(Qv3310, ErrorTextsAreValidScpiStrings)
{
    Instrument i;
    i.send("TRIG:COUN 0");
    EXPECT_EQ(i.query("SYST:ERR?"), "-222,\"Data out of range;0 not in 1..50000\"");
    i.send("::\"quoted\"");
    EXPECT_EQ(i.query("SYST:ERR?"), "-102,\"Syntax error;::\"\"quoted\"\"\"");
    i.send(std::string(400, 'X'));
    const std::string reply = i.query("SYST:ERR?");
    EXPECT_EQ(reply.size(), std::string("-113,\"\"").size() + 255);
}

TEST(Qv3310, ReportsTheStandardErrorForBadCommands)
{
    const std::pair<const char *, int> cases[] = {
        {"SYST:ERR", -113}, // query-only header
        {"TRIGger:TIMe 10", -113}, // neither short nor long form
        {"ROUT:SCAN(@101)", -111},
        {"TRIG:COUN", -109},
        {"TRIG:COUN 1,2", -108},
        {"*IDN? 1", -108},
        {"TRIG:COUN 0", -222},
        {"TRIG:COUN 50001", -222},
        {"TRIG:COUN many", -224},
        {"TRIG:TIM -1", -222},
        {"TRIG:SOUR SOMETIMES", -224},
        {"VOLT:NPLC 0.01,(@111)", -222},
        {"VOLT:NPLC 201,(@111)", -222},
        {"ROUT:SCAN (@121)", -224},
        {"ROUT:SCAN (@201)", -224},
        {"ROUT:SCAN 101", -104},
        {"ROUT:CHAN:DEL 61,(@101)", -222},
        {"ROUT:CHAN:DEL? ", -109}, // no list and no scan list
        {"UNIT:TEMP C,(@111)", -221}, // channel 111 measures volts
        {"TEMP:TRAN:TC:RJUN:TYPE INT,(@101)", -221},
        {"TEMP:NPLC 1,(@111)", -221},
        {"UNIT:TEMP X,(@101)", -224},
        {"CONF:TEMP RTD,J,(@101)", -224},
        {"CONF:VOLT:DC 301,(@111)", -222},
        {"FORM:READ:TIME MAYBE", -224},
        {"FORM:READ:TIME:TYPE LATER", -224},
        {"SYST:CTYP? 150", -224},
        {"SYST:CTYP? 400", -222},
        {"SYST:DATE 2026,2,30", -222},
        {"SYST:TIME 24,0,0", -222},
        {"DATA:REM? 0", -222},
        {"DATA:REM? 1", -222}, // nothing stored
        {"INIT", -221}, // no scan list
        {"*TRG", -211},
    };
    for (const auto &[command, code] : cases) {
        Instrument i;
        i.send(command);
        EXPECT_EQ(i.qv->takeReply(), std::nullopt) << command;
        std::vector<int> errors = i.errors();
        if (!errors.empty() && errors.back() == -420)
            errors.pop_back(); // the empty read above
        EXPECT_EQ(errors, std::vector<int>{code}) << command;
    }
}

TEST(Qv3310, RefusedSettingsLeaveTheOldValue)
{
    Instrument i;
    i.send("TRIG:COUN 4");
    i.send("TRIG:COUN 0");
    i.send("TRIG:COUN MAX");
    EXPECT_EQ(i.query("TRIG:COUN?"), "+5.00000000E+04");
    i.send("TRIG:COUN 4");
    i.send("TRIG:COUN 0");
    EXPECT_EQ(i.query("TRIG:COUN?"), "+4.00000000E+00");
}

TEST(Qv3310, IdentifiesItselfItsModuleAndItsDmm)
{
    Instrument i;
    const std::vector<std::string> id = fields(i.query("*IDN?"));
    ASSERT_EQ(id.size(), 4U);
    EXPECT_EQ(id[0], "QVTEK");
    EXPECT_EQ(id[1], "QV3310");
    EXPECT_FALSE(id[2].empty());
    EXPECT_FALSE(id[3].empty());
    EXPECT_EQ(i.query("SYST:CTYP? 100"), "QVTEK,QV3391,0,1.0");
    EXPECT_EQ(i.query("SYST:CTYP? 200"), "0,0,0,0");
    EXPECT_EQ(i.query("SYST:CTYP? 300"), "0,0,0,0");
    EXPECT_EQ(i.query("INSTrument:DMM:INSTalled?"), "1");
    EXPECT_EQ(i.query("INSTrument:DMM?"), "1");
    i.send("INST:DMM OFF");
    EXPECT_EQ(i.query("INST:DMM?"), "0");
    i.send("INSTrument:DMM ON");
    EXPECT_EQ(i.query("INST:DMM:STAT?"), "1");
    EXPECT_EQ(i.errors(), std::vector<int>{});
}

TEST(Qv3310, IdentityFaults)
{
    EXPECT_EQ(fields(Instrument(Faults::parse({"wrong-model"})).query("*IDN?"))[1], Faults::kWrongModel);
    EXPECT_EQ(Instrument(Faults::parse({"model=QV2700"})).query("*IDN?").find("QV3310"), std::string::npos);
    EXPECT_EQ(fields(Instrument(Faults::parse({"model=QV2700"})).query("*IDN?"))[1], "QV2700");
    EXPECT_EQ(Instrument(Faults::parse({"wrong-module"})).query("SYST:CTYP? 100").find("QV3391"), std::string::npos);
    EXPECT_EQ(fields(Instrument(Faults::parse({"module=QV3393"})).query("SYST:CTYP? 100"))[1], "QV3393");
}

TEST(Qv3310, WithoutDmmNothingMeasures)
{
    Instrument i(Faults::parse({"no-dmm"}));
    EXPECT_EQ(i.query("INST:DMM:INST?"), "0");
    EXPECT_EQ(i.query("INST:DMM?"), "0");
    i.send("INST:DMM ON");
    i.send("ROUT:SCAN (@101)");
    i.send("INIT");
    EXPECT_EQ(i.errors(), (std::vector<int>{-241, -241}));
    EXPECT_EQ(i.query("INST:DMM?"), "0");
}

TEST(Qv3310, DmmSwitchedOffRefusesToScanUntilSwitchedOn)
{
    Instrument i(Faults::parse({"dmm-off"}));
    EXPECT_EQ(i.query("INST:DMM:INST?"), "1");
    EXPECT_EQ(i.query("INST:DMM?"), "0");
    i.send("ROUT:SCAN (@101)");
    i.send("INIT");
    EXPECT_EQ(i.errors(), std::vector<int>{-221});
    i.send("INST:DMM ON");
    i.send("INIT");
    EXPECT_EQ(i.errors(), std::vector<int>{});
    EXPECT_EQ(i.query("INST:DMM?"), "1");
}

TEST(Qv3310, QueuedErrorsWaitFromPowerOn)
{
    Instrument i(Faults::parse({"queued-errors=2", "queued-error=-310"}));
    const std::vector<int> &cycle = Faults::queuedErrorCycle();
    EXPECT_EQ(i.errors(), (std::vector<int>{cycle[0], cycle[1], -310}));
}

TEST(Qv3310, NoAnswerExecutesButNeverReplies)
{
    Instrument i(Faults::parse({"no-answer"}));
    i.send("TRIG:COUN 3");
    i.send("TRIG:COUN?");
    EXPECT_EQ(i.qv->takeReply(), std::nullopt);
    EXPECT_EQ(i.qv->nextReplyAt(), std::nullopt);
    i.send("*IDN?");
    EXPECT_EQ(i.qv->takeReply(), std::nullopt);
}

TEST(Qv3310, ErrorOnFailsThatCommandInAnyForm)
{
    Instrument i(Faults::parse({"error-on=TRIG:TIM", "error-on=ROUT:SCAN:SIZE?/-221"}));
    i.send("TRIGger:TIMer 10");
    EXPECT_EQ(i.query("TRIG:TIM?"), "+1.00000000E+00");
    i.send("ROUTe:SCAN:SIZE?");
    EXPECT_EQ(i.qv->takeReply(), std::nullopt);
    EXPECT_EQ(i.errors(), (std::vector<int>{-222, -221, -420}));
    i.send("TRIG:COUN 2");
    EXPECT_EQ(i.errors(), std::vector<int>{});
}

TEST(Qv3310, ErrorOnAnUnknownHeaderIsRefusedUpFront)
{
    EXPECT_THROW(Instrument(Faults::parse({"error-on=TRIG:NOPE"})), std::invalid_argument);
}

TEST(Qv3310, StopAnsweringAfterFallsSilent)
{
    Instrument i(Faults::parse({"stop-answering-after=2"}));
    i.send("TRIG:COUN 2");
    EXPECT_EQ(i.query("*IDN?").substr(0, 5), "QVTEK");
    i.send("*IDN?");
    EXPECT_EQ(i.qv->takeReply(), std::nullopt);
    EXPECT_EQ(i.qv->nextReplyAt(), std::nullopt);
    EXPECT_TRUE(i.qv->silent());
    EXPECT_EQ(i.received().back(), "*IDN?");
}

TEST(Qv3310, ProgramConfigurationReadsBack)
{
    Instrument i;
    EXPECT_EQ(i.query("*RST;*OPC?"), "1");
    i.qv->deviceClear();
    for (const std::string &command : support::scanConfiguration())
        i.send(command);
    EXPECT_EQ(i.errors(), std::vector<int>{});

    EXPECT_EQ(i.query("ROUTe:SCAN:SIZE?"), "+20");
    EXPECT_EQ(i.query("TRIGger:COUNt?"), "+2.00000000E+00");
    EXPECT_EQ(i.query("ROUTe:CHANnel:DELay? (@101)"), "+2.50000000E-01");
    EXPECT_EQ(i.query("TRIGger:TIMer?"), "+1.00000000E+01");

    EXPECT_EQ(i.query("ROUT:SCAN?"), "(@101:120)");
    EXPECT_EQ(i.query("TRIG:SOUR?"), "TIM");
    EXPECT_EQ(i.query("UNIT:TEMP? (@101,110)"), "C,C");
    EXPECT_EQ(i.query("TEMP:TRAN:TC:RJUN:TYPE? (@105)"), "INT");
    EXPECT_EQ(i.query("TEMP:TRAN:TC:TYPE? (@101)"), "J");
    EXPECT_EQ(i.query("VOLT:NPLC? (@111,120)"), "+1.00000000E+00,+1.00000000E+00");
    EXPECT_EQ(i.query("CONF? (@110:111)"), "\"TEMP TC,J\",\"VOLT +1.00000000E+01\"");
    EXPECT_EQ(i.query("FORM:READ:TIME?;TIME:TYPE?;:FORM:READ:CHAN?"), "1;REL;1");
    EXPECT_EQ(i.errors(), std::vector<int>{});
}

TEST(Qv3310, ResetRestoresDefaultsAndEmptiesMemory)
{
    Instrument i;
    configureProgramScan(i);
    i.send("INIT");
    i.at(6s);
    EXPECT_EQ(i.query("DATA:POIN?"), "+20");
    i.send("*RST");
    EXPECT_EQ(i.query("DATA:POIN?"), "+0");
    EXPECT_EQ(i.query("ROUT:SCAN:SIZE?;:TRIG:COUN?;SOUR?;TIM?"), "+0;+1.00000000E+00;IMM;+1.00000000E+00");
    EXPECT_EQ(i.query("FORM:READ:TIME?;CHAN?;TIME:TYPE?"), "0;0;ABS");
    EXPECT_EQ(i.query("CONF? (@101);:ROUT:CHAN:DEL? (@101)"), "\"VOLT AUTO\";+0.00000000E+00");
    EXPECT_EQ(i.query("*OPC?"), "1"); // nothing pending any more
}

TEST(Qv3310, NewMessageInterruptsAnUnreadReply)
{
    Instrument i;
    i.send("*IDN?");
    i.send("SYST:CTYP? 200");
    EXPECT_EQ(i.qv->takeReply(), "0,0,0,0");
    EXPECT_EQ(i.errors(), std::vector<int>{-410});
}

TEST(Qv3310, ReadWithNothingToSayIsUnterminated)
{
    Instrument i;
    EXPECT_EQ(i.qv->takeReply(), std::nullopt);
    EXPECT_EQ(i.qv->nextReplyAt(), std::nullopt);
    i.send("TRIG:COUN 2");
    EXPECT_EQ(i.qv->takeReply(), std::nullopt);
    EXPECT_EQ(i.errors(), (std::vector<int>{-420, -420}));
}

TEST(Qv3310, DeviceClearDropsTheReplyAndKeepsEverythingElse)
{
    Instrument i;
    configureProgramScan(i);
    i.send("BOGUS");
    i.send("INIT");
    i.send("*IDN?");
    i.qv->deviceClear();
    EXPECT_EQ(i.qv->takeReply(), std::nullopt);
    EXPECT_EQ(i.received().back(), MessageLog::kDeviceClearEntry);
    i.at(6s);
    EXPECT_EQ(i.query("DATA:POIN?"), "+20"); // the scan ran on
    EXPECT_EQ(i.errors(), (std::vector<int>{-113, -420}));
}

TEST(Qv3310, ACommandLineLongerThanTheInputBufferIsRefusedWhole)
{
    struct Case
    {
        std::size_t length;
        const char *count; ///< TRIG:COUN? afterwards
        std::vector<int> errors;
    };
    const Case cases[] = {
        {Qv3310::kInputBufferSize, "+3.00000000E+00", {}},
        {Qv3310::kInputBufferSize + 1, "+1.00000000E+00", {-363}},
        {10 * Qv3310::kInputBufferSize, "+1.00000000E+00", {-363}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.length);
        Instrument i;
        std::string message = "TRIG:COUN 3;*IDN?";
        message.resize(c.length, ' ');
        i.send(message);
        EXPECT_EQ(i.qv->nextReplyAt().has_value(), c.errors.empty()) << "*IDN? ran";
        if (c.errors.empty()) {
            const std::string identification = i.qv->takeReply().value_or("");
            EXPECT_EQ(identification, i.query("*IDN?"));
        }
        EXPECT_EQ(i.query("TRIG:COUN?"), c.count);
        EXPECT_EQ(i.errors(), c.errors);
    }
}

TEST(Qv3310, KeepsNoHistoryOfItsOwn)
{
    Instrument i;
    i.qv->setObserver(nullptr);
    i.send("*RST");
    EXPECT_TRUE(i.received().empty());
    i.qv->setObserver(i.log);
    i.send("*CLS");
    EXPECT_EQ(i.received(), (std::vector<std::string>{"*CLS"}));
}

TEST(Qv3310, RecordsEveryMessageInOrder)
{
    Instrument i;
    i.send("*RST;*OPC?");
    i.qv->deviceClear();
    i.send("BOGUS");
    EXPECT_EQ(i.received(), (std::vector<std::string>{"*RST;*OPC?", "(device clear)", "BOGUS"}));
}

TEST(Qv3310, DateAndTimeRunOnTheInstrumentClock)
{
    Instrument i;
    EXPECT_TRUE(std::regex_match(i.query("SYSTem:DATE?"), std::regex(R"(\d{4},\d{2},\d{2})")));
    EXPECT_TRUE(std::regex_match(i.query("SYSTem:TIME?"), std::regex(R"(\d{2},\d{2},\d{2}\.\d{3})")));

    i.send("SYST:DATE 2026,12,10");
    i.send("SYST:TIME 2,13,45.123");
    EXPECT_EQ(i.query("SYST:DATE?"), "2026,12,10");
    EXPECT_EQ(i.query("SYST:TIME?"), "02,13,45.123");
    i.clock->sleepFor(1500ms);
    EXPECT_EQ(i.query("SYST:TIME?"), "02,13,46.623");

    i.send("SYST:DATE 2028,2,28;TIME 23,59,59.5");
    i.clock->sleepFor(1s);
    EXPECT_EQ(i.query("SYST:DATE?;TIME?"), "2028,02,29;00,00,00.500");
    EXPECT_EQ(i.errors(), std::vector<int>{});
}

TEST(Qv3310, StatusRegistersReflectErrorsAndOutput)
{
    Instrument i;
    i.send("*ESE 60;*SRE 32");
    i.send("BOGUS");
    i.send("TRIG:COUN 0");
    const int stb = std::stoi(i.query("*STB?"));
    EXPECT_EQ(stb & 4, 4); // error queue not empty
    EXPECT_EQ(stb & 32, 32); // an enabled event happened
    EXPECT_EQ(stb & 64, 64); // and service is requested for it
    EXPECT_EQ(i.query("*ESR?"), std::to_string(32 | 16)); // command and execution error
    EXPECT_EQ(i.query("*ESR?"), "0");
    i.send("*CLS");
    EXPECT_EQ(i.query("*STB?"), "0");
}

} // namespace
} // namespace sim::test
