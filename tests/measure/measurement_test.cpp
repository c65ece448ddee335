// "Get Readings": the whole measurement against the simulated instrument on a virtual clock.

#include <QCloseEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpression>

#include <cstdio>

#include "app/batch.h"
#include "support/windowfixture.h"
#include "support/printto.h"
#include "support/scancommands.h"

namespace {

using Strings = std::vector<std::string>;

const QStringList kWaitLines = {
    "Scanning and making measurements; please wait.",
    "The instrument will scan through the channels once,",
    "then wait a pre-determined time, and scan again.",
    "Measurement time is about: 15 seconds.",
};

class Measurement : public WindowTest
{
protected:
    void start(const std::vector<std::string> &faults = {})
    {
        WindowTest::start(faults);
        QObject::connect(window.get(), &VISAComExample::lineAppended,
                         [this](const QString &line) { appended.append(line); });
    }

    /// Checks the list a complete run leaves: instructions, date, time, header and forty readings.
    void expectReadingsListed(const QString &dateReply, const QString &timeReply)
    {
        const QStringList lines = listLines();
        ASSERT_EQ(lines.size(), 7 + 40) << lines.join("\n").toStdString();
        EXPECT_EQ(lines.mid(0, 3), instructionLines());
        EXPECT_EQ(lines[3], "");
        EXPECT_EQ(lines[4], "Start Date (yyyy,mm,dd): " + dateReply);
        EXPECT_EQ(lines[5], "Start Time (hh,mm,ss.sss): " + timeReply);
        EXPECT_EQ(lines[6], "Rdng#\tChannel\tValue\t\tTime");

        const QRegularExpression reading(QStringLiteral("^ (\\d+)\\t(\\d{3})\\t([-+][0-9.E+-]+)\\t([-+]?[0-9.E+-]+)$"));
        double lastTime = -1;
        for (int n = 1; n <= 40; ++n) {
            const QString line = lines[6 + n];
            SCOPED_TRACE(line.toStdString());
            const auto match = reading.match(line);
            ASSERT_TRUE(match.hasMatch());
            EXPECT_EQ(match.captured(1).toInt(), n);
            EXPECT_EQ(match.captured(2).toInt(), 101 + (n - 1) % 20);
            const double time = match.captured(4).toDouble();
            EXPECT_GT(time, lastTime);
            lastTime = time;
        }
    }

    QStringList appended;
};

/// The command sequence of one run after the selection.
Strings runCommands(size_t polls, bool withAbortCheck = true)
{
    Strings commands;
    if (withAbortCheck)
        commands = {"ABORt", "SYSTem:ERRor?"};
    commands.insert(commands.end(), {"*RST;*OPC?", "(device clear)"});
    commands.insert(commands.end(), support::scanConfiguration().begin(), support::scanConfiguration().end());
    commands.insert(commands.end(), {"ROUTe:SCAN:SIZE?", "TRIGger:COUNt?", "ROUTe:CHANnel:DELay? (@101)",
                                     "TRIGger:TIMer?", "SYSTem:ERRor?", "INITiate", "SYSTem:DATE?", "SYSTem:TIME?"});
    commands.insert(commands.end(), polls, "DATA:POINTS?");
    commands.insert(commands.end(), 40, "DATA:REMove? 1");
    commands.push_back("SYSTem:ERRor?");
    return commands;
}

size_t count(const Strings &log, const std::string &command)
{
    return size_t(std::count(log.begin(), log.end(), command));
}

struct Bus
{
    const char *name;
    const char *address;
    Strings selection;
    qsizetype terminator;
};

// Test names show the case, not its bytes.
using support::PrintTo;

class FullRun : public Measurement, public ::testing::WithParamInterface<Bus>
{
};

TEST_P(FullRun, ListsFortyReadingsUnderTheStartDateAndTime)
{
    const Bus &bus = GetParam();
    start();
    window->ioSelect->setText(bus.address);
    window->GetReadings->click();

    ASSERT_TRUE(platform.messages.isEmpty()) << platform.messages.join("\n").toStdString();
    EXPECT_FALSE(window->ended());
    EXPECT_EQ(window->focusWidget(), window->ExitProg);
    EXPECT_EQ(window->numReadings, 40);
    EXPECT_DOUBLE_EQ(window->measTime, 15.0);

    // Everything the instrument received, in order; only the number of polls depends on timing.
    const Strings log = received();
    const size_t polls = count(log, "DATA:POINTS?");
    EXPECT_GE(polls, 2u);
    Strings expected = bus.selection;
    const Strings run = runCommands(polls);
    expected.insert(expected.end(), run.begin(), run.end());
    EXPECT_EQ(log, expected);

    // The instrument's clock at the start: what it answered, less the terminator only.
    const QStringList lines = listLines();
    ASSERT_GE(lines.size(), 6);
    const QString date = lines[4].mid(QString("Start Date (yyyy,mm,dd): ").size());
    const QString time = lines[5].mid(QString("Start Time (hh,mm,ss.sss): ").size());
    EXPECT_TRUE(QRegularExpression("^\\d{4},\\d{2},\\d{2}$").match(date).hasMatch()) << date.toStdString();
    EXPECT_TRUE(QRegularExpression("^\\d{2},\\d{2},\\d{2}\\.\\d{3}$").match(time).hasMatch()) << time.toStdString();
    expectReadingsListed(date, time);

    // The identification came first, then the wait lines replaced it.
    ASSERT_GE(appended.size(), 3 + 4);
    EXPECT_EQ(appended[0], "Instrument ID is:");
    EXPECT_EQ(appended.mid(3, 4), kWaitLines);
    EXPECT_EQ(window->readingsListed(), 40);
}

INSTANTIATE_TEST_SUITE_P(
    Buses, FullRun,
    ::testing::Values(
        Bus{"Gpib", "GPIB0::9", {"*IDN?", "SYSTem:CTYPe? 100", "INSTrument:DMM:INSTalled?", "INSTrument:DMM?"}, 1},
        Bus{"Serial",
            "ASRL1",
            {"SYSTem:REMote", "*IDN?", "SYSTem:CTYPe? 100", "INSTrument:DMM:INSTalled?", "INSTrument:DMM?"},
            2}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Measurement, ASecondClickReusesTheSession)
{
    start();
    window->GetReadings->click();
    const size_t first = received().size();
    window->GetReadings->click();

    ASSERT_TRUE(platform.messages.isEmpty()) << platform.messages.join("\n").toStdString();
    const Strings second = received(first);
    EXPECT_EQ(second, runCommands(count(second, "DATA:POINTS?")));
    EXPECT_EQ(backend->events, Strings{"open GPIB0::9::INSTR"});
    EXPECT_EQ(listLines().size(), 47);
}

TEST_F(Measurement, AClickAfterAWrongInstrumentSelectsAgain)
{
    start({"wrong-model"});
    window->ioSelect->setText("gpib0::9");
    window->GetReadings->click();
    EXPECT_EQ(platform.messages, QStringList{"Wrong instrument addressed!"});
    EXPECT_TRUE(listLines().isEmpty());
    EXPECT_EQ(window->ioSelect->text(), "GPIB0::9");
    EXPECT_FALSE(window->ended());
}

struct ErrorCase
{
    const char *name;
    std::vector<std::string> faults;
    const char *label;
    const char *lastCommandBefore; ///< the command after which the check found the error
    bool duringReadings = false; ///< the instrument queues an error of its own while the readings are listed
};

// Test names show the case, not its bytes.

class InstrumentError : public Measurement, public ::testing::WithParamInterface<ErrorCase>
{
};

TEST_P(InstrumentError, IsShownThenClearedClosedAndEnds)
{
    const ErrorCase &c = GetParam();
    start(c.faults);
    if (c.duringReadings)
        QObject::connect(window.get(), &VISAComExample::lineAppended, [this](const QString &line) {
            if (line.startsWith(" 20\t"))
                instrument->receive("SYSTem:NOSuchCommand");
        });
    window->GetReadings->click();

    ASSERT_EQ(platform.messages.size(), 1) << platform.messages.join("\n---\n").toStdString();
    const QString message = platform.messages.front();
    const QStringList parts = message.split('\n');
    ASSERT_GE(parts.size(), 3) << message.toStdString();
    EXPECT_EQ(parts[0], QString("Error in: ") + c.label);
    EXPECT_TRUE(QRegularExpression("^Error Number: -\\d+$").match(parts[1]).hasMatch()) << message.toStdString();
    const QString number = parts[1].mid(QString("Error Number: ").size());
    EXPECT_TRUE(parts[2].startsWith("Error Message: " + number + ",\"")) << message.toStdString();
    // After the readings were removed, one more line says where they were kept.
    const qsizetype kept = message.lastIndexOf("\nReadings 1 to 40 were saved to ");
    EXPECT_EQ(kept >= 0, c.duringReadings) << message.toStdString();
    const QString shown = c.duringReadings ? message.left(kept + 1) : message;
    EXPECT_TRUE(shown.endsWith("\"\n")) << "the reply is shown with its terminator: " << message.toStdString();

    const Strings log = received();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(Strings(log.end() - 3, log.end()), (Strings{"SYSTem:ERRor?", "SYSTem:ERRor?", "*CLS"}));
    EXPECT_EQ(log[log.size() - 4], c.lastCommandBefore);
    EXPECT_TRUE(window->ended());
    EXPECT_EQ(backend->events, (Strings{"open GPIB0::9::INSTR", "close GPIB0::9::INSTR", "release GPIB0::9::INSTR"}));
}

INSTANTIATE_TEST_SUITE_P(AtEachCheck, InstrumentError,
                         ::testing::Values(ErrorCase{"RunProg", {"queued-error=-221"}, "RunProg", "ABORt"},
                                           ErrorCase{"Setup", {"error-on=TRIG:TIM"}, "Setup", "TRIGger:TIMer?"},
                                           ErrorCase{"Readings", {}, "Readings", "DATA:REMove? 1", true}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(Measurement, EachErrorBoxRepeatsTheOnesBefore)
{
    start({"queued-errors=2"});
    window->GetReadings->click();
    ASSERT_EQ(platform.messages.size(), 2) << platform.messages.join("\n---\n").toStdString();
    EXPECT_TRUE(platform.messages[0].startsWith("Error in: RunProg\nError Number: "));
    EXPECT_EQ(platform.messages[1].left(platform.messages[0].size() + 10), "Error in: " + platform.messages[0]);
    EXPECT_TRUE(window->ended());
}

struct FailureCase
{
    const char *name;
    std::vector<std::string> faults;
    const char *message; ///< a part of the one message shown
};

// Test names show the case, not its bytes.

class RunFailure : public Measurement, public ::testing::WithParamInterface<FailureCase>
{
};

TEST_P(RunFailure, IsShownAndTheSessionClosed)
{
    const FailureCase &c = GetParam();
    start(c.faults);
    window->GetReadings->click();

    ASSERT_EQ(platform.messages.size(), 1) << platform.messages.join("\n---\n").toStdString();
    EXPECT_TRUE(platform.messages.front().contains(c.message)) << platform.messages.front().toStdString();
    EXPECT_TRUE(window->ended());
    EXPECT_EQ(backend->events, (Strings{"open GPIB0::9::INSTR", "close GPIB0::9::INSTR", "release GPIB0::9::INSTR"}));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RunFailure,
    ::testing::Values(
        FailureCase{"NeverCompletes", {"scan-never-completes"}, "stored 39 readings of 40 expected within 75 seconds"},
        FailureCase{"TooManyReadings", {"extra-readings"}, "readings of 40 expected."},
        FailureCase{"MissingField", {"missing-field"}, "field(s); value, time and channel were expected"},
        FailureCase{"StopsAnswering", {"stop-answering-after=100"}, "on GPIB0::9::INSTR failed: time-out"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Measurement, ClicksDuringARunAreDroppedNotReplayed)
{
    start();
    const QPoint centre = window->GetReadings->rect().center();
    const QPointF global = window->GetReadings->mapToGlobal(QPointF(centre));
    QCoreApplication::postEvent(window->GetReadings, new QMouseEvent(QEvent::MouseButtonPress, QPointF(centre), global,
                                                                     Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(window->GetReadings,
                                new QMouseEvent(QEvent::MouseButtonRelease, QPointF(centre), global, Qt::LeftButton,
                                                Qt::NoButton, Qt::NoModifier));
    window->GetReadings->click();
    QCoreApplication::processEvents();

    EXPECT_TRUE(platform.messages.isEmpty()) << platform.messages.join("\n").toStdString();
    EXPECT_EQ(count(received(), "ABORt"), 1u);
    EXPECT_EQ(listLines().size(), 47);
}

TEST_F(Measurement, AFrameCloseDuringARunEndsTheProgramAfterTheCurrentTransaction)
{
    start();
    QCoreApplication::postEvent(window.get(), new QCloseEvent);
    window->GetReadings->click();

    EXPECT_TRUE(platform.messages.isEmpty()) << platform.messages.join("\n").toStdString();
    // The identification query was the first transaction; nothing followed it.
    EXPECT_EQ(received(), Strings{"*IDN?"});
    EXPECT_TRUE(window->ended());
    EXPECT_EQ(backend->events, (Strings{"open GPIB0::9::INSTR", "release GPIB0::9::INSTR"}));
}

/// Batch mode in-process: lines and messages each to a file of their own.
class Batch : public WindowTest
{
protected:
    int runBatchWith(const std::vector<std::string> &faults)
    {
        std::unique_ptr<std::FILE, int (*)(std::FILE *)> out(std::tmpfile(), &std::fclose);
        std::unique_ptr<std::FILE, int (*)(std::FILE *)> err(std::tmpfile(), &std::fclose);
        batchPlatform = std::make_unique<BatchPlatform>(err.get());
        instrument = std::make_shared<sim::Qv3310>(clock, sim::Faults::parse(faults));
        log = sim::MessageLog::attachedTo(*instrument);
        backend = std::make_shared<RecordingBackend>(std::make_shared<sim::SimulatedBackend>(instrument));
        window = std::make_unique<VISAComExample>(backend, *batchPlatform);
        const int status = runBatch(*window, *batchPlatform, out.get());
        output = readAll(out.get());
        errors = readAll(err.get());
        return status;
    }

    static QStringList readAll(std::FILE *file)
    {
        QStringList lines = writtenTo(file).split('\n');
        if (!lines.isEmpty() && lines.back().isEmpty())
            lines.removeLast();
        return lines;
    }

    std::unique_ptr<BatchPlatform> batchPlatform;
    QStringList output, errors;
};

TEST_F(Batch, ListsEveryLineAsItIsListedAndExitsZero)
{
    ASSERT_EQ(runBatchWith({}), kBatchReadingsListed);
    EXPECT_TRUE(errors.isEmpty()) << errors.join("\n").toStdString();
    // Start-up instructions, identification, wait lines, then the listing of the run.
    ASSERT_EQ(output.size(), 3 + 3 + 4 + 47);
    EXPECT_EQ(output.mid(0, 3), instructionLines());
    EXPECT_EQ(output[3], "Instrument ID is:");
    EXPECT_EQ(output.mid(6, 4), kWaitLines);
    EXPECT_EQ(output[16], "Rdng#\tChannel\tValue\t\tTime");
    EXPECT_TRUE(output.back().startsWith(" 40\t120\t"));
    EXPECT_TRUE(window->ended());
    EXPECT_EQ(backend->events, (Strings{"open GPIB0::9::INSTR", "close GPIB0::9::INSTR", "release GPIB0::9::INSTR"}));
}

TEST_F(Batch, ExitsOneAfterAMessageOrWithoutReadings)
{
    const std::pair<std::vector<std::string>, const char *> cases[] = {
        {{"wrong-model"}, "Wrong instrument addressed!"},
        {{"wrong-module"}, "Incorrect Module Installed in slot 100!"},
        {{"queued-error=-221"}, "Error in: RunProg"},
        {{"no-answer"}, "time-out"},
    };
    for (const auto &[faults, message] : cases) {
        SCOPED_TRACE(message);
        EXPECT_EQ(runBatchWith(faults), kBatchFailed);
        ASSERT_FALSE(errors.isEmpty());
        EXPECT_TRUE(errors.join('\n').contains(message)) << errors.join("\n").toStdString();
        EXPECT_TRUE(window->ended());
    }
}

} // namespace
