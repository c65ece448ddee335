// The window at start-up, "Select I/O" and "Exit", against the simulated instrument.

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "support/windowfixture.h"
#include "support/serialoptions.h"
#include "support/printto.h"

namespace {

using Strings = std::vector<std::string>;

using support::kSerialOptions;

/// The identification a simulated instrument with @p faults gives, without its terminator.
QString identification(const std::vector<std::string> &faults = {})
{
    sim::Qv3310 reference(std::make_shared<sim::VirtualClock>(), sim::Faults::parse(faults));
    reference.receive("*IDN?");
    return QString::fromStdString(reference.takeReply().value_or("(no reply)"));
}

class Selection : public WindowTest
{
};

TEST_F(Selection, TheWindowStartsAsLaidOut)
{
    start();
    EXPECT_EQ(window->windowTitle(), "VISA Com Example");
    EXPECT_EQ(window->size(), QSize(364, 351));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());

    struct Control
    {
        QWidget *widget;
        QRect geometry;
    };
    const Control controls[] = {
        {window->GetReadings, {126, 88, 113, 33}}, {window->List1, {34, 128, 297, 160}},
        {window->ioSelect, {78, 56, 89, 19}},      {window->ExitProg, {126, 304, 113, 33}},
        {window->Label1, {62, 0, 241, 41}},        {window->SelectIO, {174, 48, 113, 33}},
    };
    for (const auto &c : controls) {
        SCOPED_TRACE(c.widget->metaObject()->className());
        EXPECT_EQ(c.widget->geometry(), c.geometry);
        EXPECT_TRUE(c.widget->isVisible());
    }
    EXPECT_EQ(window->GetReadings->text(), "Get Readings");
    EXPECT_EQ(window->ExitProg->text(), "Exit");
    EXPECT_EQ(window->SelectIO->text(), "Select I/O");
    EXPECT_EQ(window->Label1->text(), "Enter/select Instrument Address (e.g., GPIB0::9, ASRL1, etc.), click on "
                                      "\"Select I/O\", and then click on \"Get Readings\".");
    EXPECT_TRUE(window->Label1->wordWrap());
    EXPECT_EQ(window->ioSelect->text(), "GPIB0::9");
    EXPECT_EQ(listLines(), instructionLines());
    EXPECT_FALSE(window->ioOpen);
    EXPECT_TRUE(backend->events.empty());
}

TEST_F(Selection, FocusStartsOnGetReadingsAndTabsInOrder)
{
    start();
    window->activateWindow();
    QApplication::processEvents();
    EXPECT_EQ(window->focusWidget(), window->GetReadings);

    const QWidget *expected[] = {window->List1, window->ioSelect, window->ExitProg, window->SelectIO,
                                 window->GetReadings};
    QWidget *at = window->GetReadings;
    for (const QWidget *next : expected) {
        at = at->nextInFocusChain();
        while (at->focusPolicy() == Qt::NoFocus)
            at = at->nextInFocusChain();
        EXPECT_EQ(at, next) << at->metaObject()->className();
    }
}

TEST_F(Selection, ARightInstrumentOnGpibIsListedAndVerified)
{
    start();
    window->SelectIO->click();

    EXPECT_TRUE(platform.messages.isEmpty()) << platform.messages.join("|").toStdString();
    EXPECT_EQ(listLines(), QStringList({"Instrument ID is:", identification(), ""}));
    EXPECT_EQ(received(), (Strings{"*IDN?", "SYSTem:CTYPe? 100", "INSTrument:DMM:INSTalled?", "INSTrument:DMM?"}));
    EXPECT_EQ(backend->events, Strings{"open GPIB0::9::INSTR"});
    EXPECT_FALSE(backend->lastOptions.timeoutMs);
    EXPECT_TRUE(window->ioOpen);
    EXPECT_EQ(window->ioAddress, "GPIB0::9");
    EXPECT_FALSE(window->ended());
}

TEST_F(Selection, ASerialAddressGetsItsSuffixOptionsAndRemoteFirst)
{
    start();
    window->ioSelect->setText("asrl1");
    window->SelectIO->click();

    EXPECT_TRUE(platform.messages.isEmpty()) << platform.messages.join("|").toStdString();
    EXPECT_EQ(window->ioAddress, "ASRL1::INSTR");
    EXPECT_EQ(window->ioOptions, kSerialOptions);
    EXPECT_EQ(window->ioSelect->text(), "asrl1");
    EXPECT_EQ(backend->lastOptions.baudRate, 115200);
    EXPECT_EQ(backend->lastOptions.timeoutMs, 10000);
    EXPECT_EQ(received(),
              (Strings{"SYSTem:REMote", "*IDN?", "SYSTem:CTYPe? 100", "INSTrument:DMM:INSTalled?", "INSTrument:DMM?"}));
    // CR and LF both trimmed from the listed identification.
    EXPECT_EQ(listLines(), QStringList({"Instrument ID is:", identification(), ""}));
    EXPECT_TRUE(window->ioOpen);
}

TEST_F(Selection, TheDefaultAddressInLowerCaseOpensTheSameResource)
{
    start();
    window->ioSelect->setText("gpib0::9");
    window->SelectIO->click();
    EXPECT_EQ(backend->events, Strings{"open GPIB0::9::INSTR"});
    EXPECT_EQ(window->ioSelect->text(), "gpib0::9");
    EXPECT_TRUE(window->ioOpen);
}

TEST_F(Selection, ADmmSwitchedOffIsSwitchedOn)
{
    start({"dmm-off"});
    window->SelectIO->click();
    EXPECT_TRUE(platform.messages.isEmpty()) << platform.messages.join("|").toStdString();
    EXPECT_EQ(received().back(), "INSTrument:DMM ON");
    EXPECT_TRUE(window->ioOpen);
    EXPECT_FALSE(window->ended());
}

TEST_F(Selection, AWrongInstrumentIsRefusedAndTheAddressReset)
{
    start({"wrong-model"});
    window->ioSelect->setText("GPIB0::9::INSTR");
    window->SelectIO->click();

    EXPECT_EQ(platform.messages, QStringList{"Wrong instrument addressed!"});
    EXPECT_EQ(platform.captions, QStringList{"QV3310 Data Acquisition Example Program"});
    EXPECT_EQ(window->ioSelect->text(), "GPIB0::9");
    EXPECT_EQ(listLines(), instructionLines());
    EXPECT_FALSE(window->ioOpen);
    EXPECT_FALSE(window->ended());
    EXPECT_EQ(received(), Strings{"*IDN?"});
    EXPECT_EQ(backend->events, (Strings{"open GPIB0::9::INSTR", "close GPIB0::9::INSTR"}));
}

TEST_F(Selection, AWrongInstrumentAfterARightOneClosesBothAndClearsIoOpen)
{
    start();
    window->SelectIO->click();
    ASSERT_TRUE(window->ioOpen);
    auto impostor = std::make_shared<sim::Qv3310>(clock, sim::Faults::parse({"wrong-model"}));
    *backend = RecordingBackend(std::make_shared<sim::SimulatedBackend>(impostor));

    window->SelectIO->click();
    EXPECT_EQ(platform.messages, QStringList{"Wrong instrument addressed!"});
    EXPECT_FALSE(window->ioOpen);
    EXPECT_EQ(backend->events, (Strings{"close GPIB0::9::INSTR", "release GPIB0::9::INSTR", "open GPIB0::9::INSTR",
                                        "close GPIB0::9::INSTR"}));
}

struct EndingCase
{
    const char *name;
    std::vector<std::string> faults;
    const char *address;
    const char *message; ///< the whole message, or a part of it when partial
    bool partial;
    Strings received;
};

// Test names show the case, not its bytes.
using support::PrintTo;

class SelectionEnds : public WindowTest, public ::testing::WithParamInterface<EndingCase>
{
};

TEST_P(SelectionEnds, ShowsOneMessageAndEndsTheProgram)
{
    const EndingCase &c = GetParam();
    start(c.faults);
    window->ioSelect->setText(c.address);
    window->SelectIO->click();

    ASSERT_EQ(platform.messages.size(), 1);
    if (c.partial)
        EXPECT_TRUE(platform.messages.front().contains(c.message)) << platform.messages.front().toStdString();
    else
        EXPECT_EQ(platform.messages.front(), c.message);
    EXPECT_TRUE(window->ended());
    EXPECT_EQ(platform.ends, 1);
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->instr);
    EXPECT_FALSE(window->rm);
    EXPECT_EQ(received(), c.received);

    // Nothing runs after the end.
    window->SelectIO->click();
    window->GetReadings->click();
    EXPECT_EQ(platform.messages.size(), 1);
    EXPECT_EQ(received(), c.received);
}

const Strings kUpToModule = {"*IDN?", "SYSTem:CTYPe? 100"};
const Strings kUpToDmm = {"*IDN?", "SYSTem:CTYPe? 100", "INSTrument:DMM:INSTalled?"};

INSTANTIATE_TEST_SUITE_P(
    Refusals, SelectionEnds,
    ::testing::Values(
        EndingCase{
            "WrongModule", {"wrong-module"}, "GPIB0::9", "Incorrect Module Installed in slot 100!", false, kUpToModule},
        EndingCase{"NoDmm", {"no-dmm"}, "GPIB0::9", "DMM not installed; unable to make measurements.", false, kUpToDmm},
        EndingCase{"NetworkAddress", {}, "TCPIP0::10.0.0.1::INSTR", "No Resources found", false, {}},
        EndingCase{"EmptyAddress", {}, "", "No Resources found", false, {}},
        EndingCase{
            "NoInstrumentThere", {}, "GPIB0::22", "Open on GPIB0::22::INSTR failed: resource not found", true, {}},
        EndingCase{"NoInstrumentAnywhere", {"absent"}, "GPIB0::9", "GPIB0::9", true, {}},
        EndingCase{"SerialSuffixTwice", {}, "ASRL1::INSTR", "ASRL1::INSTR::INSTR", true, {}},
        EndingCase{"NoAnswer",
                   {"no-answer"},
                   "GPIB0::9",
                   "ReadString (reply to \"*IDN?\") on GPIB0::9::INSTR",
                   true,
                   {"*IDN?"}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Selection, ARefusalAfterARightSelectionClosesTheNewSession)
{
    start();
    window->SelectIO->click();
    ASSERT_TRUE(window->ioOpen);
    auto other = std::make_shared<sim::Qv3310>(clock, sim::Faults::parse({"wrong-module"}));
    *backend = RecordingBackend(std::make_shared<sim::SimulatedBackend>(other));

    window->SelectIO->click();
    EXPECT_EQ(platform.messages, QStringList{"Incorrect Module Installed in slot 100!"});
    EXPECT_TRUE(window->ended());
    // The old session is closed before the new one opens; the end closes the new one explicitly.
    EXPECT_EQ(backend->events, (Strings{"close GPIB0::9::INSTR", "release GPIB0::9::INSTR", "open GPIB0::9::INSTR",
                                        "close GPIB0::9::INSTR", "release GPIB0::9::INSTR"}));
}

TEST_F(Selection, ASecondSelectionClosesTheFirstSessionAndListsAgain)
{
    start();
    window->SelectIO->click();
    window->SelectIO->click();
    EXPECT_TRUE(platform.messages.isEmpty());
    EXPECT_EQ(backend->events, (Strings{"open GPIB0::9::INSTR", "close GPIB0::9::INSTR", "release GPIB0::9::INSTR",
                                        "open GPIB0::9::INSTR"}));
    EXPECT_EQ(listLines(), QStringList({"Instrument ID is:", identification(), ""}));
    EXPECT_EQ(instrument->openSessions(), 1);
}

TEST_F(Selection, ExitWithoutASessionClosesNothing)
{
    start();
    window->ExitProg->click();
    EXPECT_TRUE(window->ended());
    EXPECT_EQ(platform.ends, 1);
    EXPECT_TRUE(platform.messages.isEmpty());
    EXPECT_TRUE(backend->events.empty());
    EXPECT_FALSE(window->isVisible());
}

TEST_F(Selection, ExitAfterASelectionClosesTheSessionFirst)
{
    start();
    window->SelectIO->click();
    window->ExitProg->click();
    EXPECT_TRUE(window->ended());
    EXPECT_EQ(backend->events, (Strings{"open GPIB0::9::INSTR", "close GPIB0::9::INSTR", "release GPIB0::9::INSTR"}));
    EXPECT_EQ(instrument->openSessions(), 0);
}

TEST_F(Selection, ExitAfterAWrongInstrumentClosesNothingMore)
{
    start({"wrong-model"});
    window->SelectIO->click();
    window->ExitProg->click();
    EXPECT_TRUE(window->ended());
    EXPECT_EQ(backend->events, (Strings{"open GPIB0::9::INSTR", "close GPIB0::9::INSTR", "release GPIB0::9::INSTR"}));
}

TEST_F(Selection, ClosingTheFrameEndsWithoutAnExplicitClose)
{
    start();
    window->SelectIO->click();
    window->close();
    EXPECT_TRUE(window->ended());
    EXPECT_EQ(platform.ends, 1);
    EXPECT_EQ(backend->events, (Strings{"open GPIB0::9::INSTR", "release GPIB0::9::INSTR"}));
}

} // namespace
