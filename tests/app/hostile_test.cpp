// A broken or hostile instrument and a restless operator: every case ends in the right result or
// in a message naming what was wrong, never in a wrong result, an unrequested run or an endless wait.

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <chrono>
#include <cstdio>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include "app/batch.h"
#include "support/windowfixture.h"
#include "support/printto.h"

namespace {

using namespace std::string_literals;
using Strings = std::vector<std::string>;

struct HostileCase
{
    const char *name;
    const char *address;
    std::map<std::string, std::string> replies; ///< whole replies, terminator included, by command
    const char *message = nullptr; ///< a part of the one message shown; none: the readings are listed
    QString date = {}; ///< the start date listed
    QString firstReading = {}; ///< the first reading line listed; empty: any reading of channel 101
    int readings = 40; ///< reading lines listed
    bool lfOnly = false; ///< every reply ends with LF alone, as some serial instruments send them
    std::vector<const char *> points = {}; ///< replies to "DATA:POINTS?" in turn, the last repeated
    std::vector<std::string> faults = {};
    bool errorWhileWaiting = false; ///< the instrument queues an error of its own during the wait
};

// Test names show the case, not its bytes.
using support::PrintTo;

class HostileInstrument : public WindowTest, public ::testing::WithParamInterface<HostileCase>
{
};

TEST_P(HostileInstrument, GivesTheRightResultOrSaysWhatWasWrong)
{
    const HostileCase &c = GetParam();
    start(c.faults);
    QStringList appended;
    QObject::connect(window.get(), &VISAComExample::lineAppended, [&](const QString &line) { appended.append(line); });
    window->ioSelect->setText(c.address);
    backend->replyOverrides = c.replies;
    size_t polls = 0;
    backend->onWrite = [&](const std::string &command) {
        if (command == "DATA:POINTS?" && c.errorWhileWaiting && polls == 0)
            instrument->receive("SYSTem:NOSuchCommand");
    };
    backend->rewrite = [&](const std::string &command, std::string reply) {
        if (command == "DATA:POINTS?" && !c.points.empty())
            reply = c.points[std::min(polls++, c.points.size() - 1)];
        else if (command == "DATA:POINTS?")
            ++polls;
        if (c.lfOnly && reply.ends_with("\r\n"))
            reply.erase(reply.size() - 2, 1);
        return reply;
    };
    window->GetReadings->click();

    if (c.message) {
        ASSERT_EQ(platform.messages.size(), 1) << platform.messages.join("\n---\n").toStdString();
        EXPECT_TRUE(platform.messages.front().contains(QString::fromUtf8(c.message)))
            << platform.messages.front().toStdString();
        EXPECT_TRUE(window->ended());
        return;
    }
    ASSERT_TRUE(platform.messages.isEmpty()) << platform.messages.join("\n---\n").toStdString();
    EXPECT_FALSE(window->ended());
    const QStringList lines = listLines();
    ASSERT_EQ(lines.size(), 7 + c.readings) << lines.join("\n").toStdString();
    if (c.replies.contains("*IDN?")) {
        ASSERT_GE(appended.size(), 2);
        EXPECT_EQ(appended[1], QString::fromStdString(c.replies.at("*IDN?")).chopped(1).remove('\r'));
    }
    if (!c.date.isNull()) {
        EXPECT_EQ(lines[4], "Start Date (yyyy,mm,dd): " + c.date);
    }
    for (int n = 1; n <= c.readings; ++n) {
        const QString line = lines[6 + n];
        if (!c.firstReading.isEmpty())
            EXPECT_EQ(line, QString(c.firstReading).replace(0, 2, QStringLiteral(" %1").arg(n)));
        else
            EXPECT_TRUE(line.startsWith(QStringLiteral(" %1\t%2\t").arg(n).arg(101 + (n - 1) % 20)))
                << line.toStdString();
    }
}

const char kTimeoutPrefix[] = "The instrument at GPIB0::9 stored ";

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileInstrument,
    ::testing::Values(
        // Terminators: only the one that is there is removed.
        HostileCase{"SerialRepliesEndingInLfAlone",
                    "ASRL1",
                    {{"*IDN?", "QVSCAN-TEST,QV3310,0,1.0\n"}, {"SYSTem:DATE?", "2026,12,10\n"}},
                    nullptr,
                    "2026,12,10",
                    {},
                    40,
                    true},
        HostileCase{"SerialRepliesEndingInCrLf",
                    "ASRL1",
                    {{"*IDN?", "QVSCAN-TEST,QV3310,0,1.0\r\n"}, {"SYSTem:DATE?", "2026,12,10\r\n"}},
                    nullptr,
                    "2026,12,10"},
        HostileCase{"SerialReadingEndingInLfAlone",
                    "ASRL1",
                    {{"SYSTem:DATE?", "2026,12,10\n"}, {"DATA:REMove? 1", "+2.31E+01,+0.27,101\n"}},
                    nullptr,
                    "2026,12,10",
                    " 1\t101\t+2.31E+01\t+0.27"},
        HostileCase{"GpibReplyEndingInLf", "GPIB0::9", {{"SYSTem:DATE?", "2026,12,10\n"}}, nullptr, "2026,12,10"},
        HostileCase{"GpibReplyWithoutItsLf",
                    "GPIB0::9",
                    {{"SYSTem:DATE?", "2026,12,10"}},
                    "The reply \"2026,12,10\" from GPIB0::9 does not end with its line terminator (LF)."},
        // NUL and control bytes are listed exactly as they came.
        HostileCase{"NulAndControlBytes",
                    "GPIB0::9",
                    {{"SYSTem:DATE?", "2026\0,12,\x1B[2J10\n"s}, {"DATA:REMove? 1", "+2.31E+01\0\x07,+0.27,101\n"s}},
                    nullptr,
                    QString::fromLatin1("2026\0,12,\x1B[2J10"s),
                    QString::fromLatin1(" 1\t101\t+2.31E+01\0\x07\t+0.27"s)},
        // Read-back values no scan of the configuration can have.
        HostileCase{"NegativeScanSizeAndCount",
                    "GPIB0::9",
                    {{"ROUTe:SCAN:SIZE?", "-20\n"}, {"TRIGger:COUNt?", "-2\n"}},
                    "The reply to \"ROUTe:SCAN:SIZE?\" from GPIB0::9 gives a scan size of -20 "
                    "(expected: 0 to 20 channels)."},
        HostileCase{"ScanSizeAboveTheScanList",
                    "GPIB0::9",
                    {{"ROUTe:SCAN:SIZE?", "+21\n"}},
                    "\"ROUTe:SCAN:SIZE?\" from GPIB0::9 gives a scan size of 21"},
        HostileCase{
            "EmptyScanStaysValid", "GPIB0::9", {{"ROUTe:SCAN:SIZE?", "+0\n"}}, nullptr, {}, {}, 0, false, {"+0\n"}},
        HostileCase{"TriggerCountZero",
                    "GPIB0::9",
                    {{"TRIGger:COUNt?", "+0\n"}},
                    "The reply to \"TRIGger:COUNt?\" from GPIB0::9 gives a trigger count of 0 (expected: at least 1)."},
        HostileCase{"NegativeDelay",
                    "GPIB0::9",
                    {{"ROUTe:CHANnel:DELay? (@101)", "-2.5E-01\n"}},
                    "\"ROUTe:CHANnel:DELay? (@101)\" from GPIB0::9 gives a channel delay of -.25 s"},
        HostileCase{"InfiniteDelay",
                    "GPIB0::9",
                    {{"ROUTe:CHANnel:DELay? (@101)", "+1E+999\n"}},
                    "ReadNumber (reply to \"ROUTe:CHANnel:DELay? (@101)\") on GPIB0::9::INSTR failed: value out of "
                    "range"},
        HostileCase{"NegativeTimer",
                    "GPIB0::9",
                    {{"TRIGger:TIMer?", "-1.0E+01\n"}},
                    "\"TRIGger:TIMer?\" from GPIB0::9 gives a trigger timer of -10 s"},
        HostileCase{"OverloadTimer",
                    "GPIB0::9",
                    {{"TRIGger:TIMer?", "+9.9E+37\n"}},
                    "\"TRIGger:TIMer?\" (9.9E+37 s), \"ROUTe:SCAN:SIZE?\" (20) and \"ROUTe:CHANnel:DELay? (@101)\" "
                    "(.25 s) from GPIB0::9 give a measurement time of 9.9E+37 s, longer than a day."},
        HostileCase{"TimerOfYears", "GPIB0::9", {{"TRIGger:TIMer?", "+1.0E+09\n"}}, "s, longer than a day."},
        HostileCase{"CountOfYears",
                    "GPIB0::9",
                    {{"TRIGger:COUNt?", "+32767\n"}},
                    "The replies to \"TRIGger:COUNt?\" (32767), \"TRIGger:TIMer?\" (10 s)"},
        // Counts that cannot reach the expected one: the limit holds, and the message says why.
        HostileCase{"PointCountGoingDown",
                    "GPIB0::9",
                    {},
                    "stored 5 readings of 40 expected within 75 seconds. Its "
                    "count of stored readings went down from 30 to 5. It reports no error.",
                    {},
                    {},
                    40,
                    false,
                    {"+10\n", "+20\n", "+30\n", "+5\n"}},
        HostileCase{"CountBelowWithAnErrorQueued",
                    "GPIB0::9",
                    {},
                    "stored 39 readings of 40 expected within 75 "
                    "seconds. It reports the error -113,\"Undefined header",
                    {},
                    {},
                    40,
                    false,
                    {},
                    {"scan-never-completes"},
                    true}),
    [](const auto &info) { return std::string(info.param.name); });

/// The poll still waits the whole limit, on the virtual clock, before it gives up.
TEST_F(WindowTest, ACountGoingDownStillWaitsTheWholeLimit)
{
    start();
    backend->rewrite = [](const std::string &command, std::string reply) {
        return command == "DATA:POINTS?" ? "+3\n"s : reply;
    };
    window->GetReadings->click();
    ASSERT_EQ(platform.messages.size(), 1);
    EXPECT_TRUE(platform.messages.front().startsWith(kTimeoutPrefix)) << platform.messages.front().toStdString();
    EXPECT_GE(clock->now(), std::chrono::seconds(75));
}

// ---------------------------------------------------------------------------------------------
// Batch mode: every line whole; raw into a file or pipe, made visible on a terminal.

class BatchOutput : public WindowTest
{
protected:
    int runInto(std::FILE *out)
    {
        errFile.reset(std::tmpfile());
        batchPlatform = std::make_unique<BatchPlatform>(errFile.get());
        instrument = std::make_shared<sim::Qv3310>(clock, sim::Faults{});
        backend = std::make_shared<RecordingBackend>(std::make_shared<sim::SimulatedBackend>(instrument));
        backend->replyOverrides["DATA:REMove? 1"] = "+2.31E+01\0\x1B[2J\r,+0.27,101\n"s;
        window = std::make_unique<VISAComExample>(backend, *batchPlatform);
        return runBatch(*window, *batchPlatform, out);
    }

    static std::string readAll(std::FILE *file)
    {
        std::rewind(file);
        std::string bytes;
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
            bytes.append(buffer, n);
        return bytes;
    }

    std::unique_ptr<std::FILE, int (*)(std::FILE *)> errFile{nullptr, &std::fclose};
    std::unique_ptr<BatchPlatform> batchPlatform;
};

TEST_F(BatchOutput, IntoAFileEveryLineGoesWholeAndExactly)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> out(std::tmpfile(), &std::fclose);
    ASSERT_EQ(runInto(out.get()), kBatchReadingsListed);
    const std::string text = readAll(out.get());
    EXPECT_TRUE(readAll(errFile.get()).empty());
    EXPECT_NE(text.find("\n 1\t101\t+2.31E+01\0\x1B[2J\r\t+0.27\n"s), std::string::npos) << text;
    EXPECT_NE(text.find("\n 40\t101\t+2.31E+01\0\x1B[2J\r\t+0.27\n"s), std::string::npos) << text;
}

TEST_F(BatchOutput, AMessageGoesWholeToStandardError)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> out(std::tmpfile(), &std::fclose);
    errFile.reset(std::tmpfile());
    batchPlatform = std::make_unique<BatchPlatform>(errFile.get());
    instrument = std::make_shared<sim::Qv3310>(clock, sim::Faults{});
    backend = std::make_shared<RecordingBackend>(std::make_shared<sim::SimulatedBackend>(instrument));
    int checks = 0;
    backend->rewrite = [&](const std::string &command, std::string reply) {
        return command == "SYSTem:ERRor?" && ++checks == 1 ? "-100,\"Bad\0thing\"\n"s : reply;
    };
    window = std::make_unique<VISAComExample>(backend, *batchPlatform);
    EXPECT_EQ(runBatch(*window, *batchPlatform, out.get()), kBatchFailed);
    EXPECT_EQ(readAll(errFile.get()), "Error in: RunProg\nError Number: -100\nError Message: -100,\"Bad\0thing\"\n\n"s);
}

TEST_F(BatchOutput, OnATerminalControlCharactersOtherThanTabAreShownAsTheTraceShowsThem)
{
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios raw{};
    ASSERT_EQ(tcgetattr(slave, &raw), 0);
    cfmakeraw(&raw); // no LF to CR LF on the way, so the bytes read are the bytes written
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &raw), 0);
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> out(fdopen(slave, "w"), &std::fclose);
    ASSERT_TRUE(out);

    ASSERT_EQ(runInto(out.get()), kBatchReadingsListed);

    const std::string last = " 40\t101\t+2.31E+01\\x00\\x1B[2J\\r\t+0.27\n";
    std::string text;
    char buffer[4096];
    // Limits the wait for bytes already written, should the terminal never deliver them.
    while (text.find(last) == std::string::npos) {
        pollfd ready{master, POLLIN, 0};
        if (poll(&ready, 1, 5000) <= 0)
            break;
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, size_t(n));
    }
    close(master);
    EXPECT_NE(text.find("\n 1\t101\t+2.31E+01\\x00\\x1B[2J\\r\t+0.27\n"), std::string::npos) << text;
    EXPECT_NE(text.find(last), std::string::npos) << text;
    EXPECT_EQ(text.find('\x1B'), std::string::npos);
    EXPECT_EQ(text.find('\0'), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// Input made during a run is dropped, whatever the run is doing when it is made.

struct Phase
{
    const char *name;
    const char *command; ///< the input is queued as this command goes to the instrument
    int occurrence; ///< for its n-th time
    bool selected = false; ///< the session was selected before the click
};

class InputDuringARun : public WindowTest, public ::testing::WithParamInterface<Phase>
{
protected:
    /// What a restless operator does: clicks "Get Readings", presses Space on it, clicks
    /// "Select I/O" and "Exit".
    void queueInput()
    {
        for (QPushButton *button : {window->GetReadings, window->SelectIO, window->ExitProg}) {
            const QPointF centre(button->rect().center());
            const QPointF global = button->mapToGlobal(centre);
            QCoreApplication::postEvent(button, new QMouseEvent(QEvent::MouseButtonPress, centre, global,
                                                                Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
            QCoreApplication::postEvent(button, new QMouseEvent(QEvent::MouseButtonRelease, centre, global,
                                                                Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
        }
        QCoreApplication::postEvent(window->GetReadings,
                                    new QKeyEvent(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " "));
        QCoreApplication::postEvent(window->GetReadings,
                                    new QKeyEvent(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, " "));
    }
};

TEST_P(InputDuringARun, IsDroppedNotReplayed)
{
    const Phase &phase = GetParam();
    start();
    if (phase.selected) {
        window->SelectIO->click();
        ASSERT_TRUE(window->ioOpen);
    }
    const size_t before = received().size();
    int seen = 0;
    backend->onWrite = [&](const std::string &command) {
        if (command == phase.command && ++seen == phase.occurrence)
            queueInput();
    };
    window->GetReadings->click();
    backend->onWrite = nullptr;
    ASSERT_EQ(seen >= phase.occurrence, true) << "the phase was never reached";
    // Whatever input survived the run is delivered now.
    QCoreApplication::processEvents();

    EXPECT_TRUE(platform.messages.isEmpty()) << platform.messages.join("\n").toStdString();
    EXPECT_FALSE(window->ended());
    const Strings log = received(before);
    EXPECT_EQ(std::count(log.begin(), log.end(), "ABORt"), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "*IDN?"), phase.selected ? 0 : 1);
    EXPECT_EQ(listLines().size(), 47);
    EXPECT_EQ(backend->events, Strings{"open GPIB0::9::INSTR"});
}

INSTANTIATE_TEST_SUITE_P(Phases, InputDuringARun,
                         ::testing::Values(Phase{"Selection", "*IDN?", 1}, Phase{"FirstErrorCheck", "SYSTem:ERRor?", 1},
                                           Phase{"Setup", "*RST;*OPC?", 1}, Phase{"ReadBack", "TRIGger:TIMer?", 1},
                                           Phase{"SetupErrorCheck", "SYSTem:ERRor?", 2},
                                           Phase{"StartOfTheScan", "INITiate", 1}, Phase{"Wait", "DATA:POINTS?", 1},
                                           Phase{"Readout", "DATA:REMove? 1", 20},
                                           Phase{"LastReading", "DATA:REMove? 1", 40},
                                           Phase{"LastErrorCheck", "SYSTem:ERRor?", 3},
                                           Phase{"SecondRunSetup", "*RST;*OPC?", 1, true},
                                           Phase{"SecondRunReadout", "DATA:REMove? 1", 5, true}),
                         [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// A frame close during a run ends the program once the current transaction is complete.

TEST_F(WindowTest, AFrameCloseDuringAScanThatNeverCompletesEndsTheProgramAfterTheCurrentTransaction)
{
    start({"scan-never-completes"});
    int polls = 0;
    backend->onWrite = [&](const std::string &command) {
        if (command == "DATA:POINTS?" && ++polls == 5)
            QCoreApplication::postEvent(window->windowHandle(), new QCloseEvent);
    };
    window->GetReadings->click();

    EXPECT_TRUE(window->ended());
    EXPECT_TRUE(platform.messages.isEmpty()) << platform.messages.join("\n").toStdString();
    // The query on its way when the frame closed was answered, and nothing came after it.
    EXPECT_EQ(polls, 5);
    EXPECT_EQ(received().back(), "DATA:POINTS?");
    // As a frame close does: the session is released, not closed.
    EXPECT_EQ(backend->events, (Strings{"open GPIB0::9::INSTR", "release GPIB0::9::INSTR"}));
    EXPECT_EQ(platform.ends, 1);
    EXPECT_LT(clock->now(), std::chrono::seconds(15));
}

TEST_F(WindowTest, ExitClickedAfterARunStillClosesTheSession)
{
    start();
    window->GetReadings->click();
    ASSERT_FALSE(window->ended());
    window->ExitProg->click();
    EXPECT_TRUE(window->ended());
    EXPECT_EQ(backend->events, (Strings{"open GPIB0::9::INSTR", "close GPIB0::9::INSTR", "release GPIB0::9::INSTR"}));
}

// ---------------------------------------------------------------------------------------------
// Message boxes: the whole text, and the OK button on the screen however long the text.

struct BoxCase
{
    const char *name;
    int errors; ///< boxes the text repeats, as the error check builds it
};

class MessageBox : public ::testing::TestWithParam<BoxCase>
{
};

TEST_P(MessageBox, KeepsItsTextAndItsOkButtonOnTheScreen)
{
    QString text = QStringLiteral("RunProg");
    for (int i = 0; i < GetParam().errors; ++i)
        text = "Error in: " + text + "\nError Number: -100\nError Message: -100,\"Command error\"\n";

    QWidget window;
    window.resize(364, 351);
    window.show();
    const QRect screen = window.screen()->availableGeometry();

    bool seen = false;
    const auto inspect = [&] {
        auto *box = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen = true;
        EXPECT_EQ(box->windowTitle(), "Caption");
        EXPECT_TRUE(screen.contains(box->frameGeometry()))
            << "box at y " << box->frameGeometry().top() << ", " << box->frameGeometry().height() << " px high";
        bool textKept = false;
        for (const QLabel *label : box->findChildren<QLabel *>())
            textKept = textKept || label->text() == text;
        EXPECT_TRUE(textKept);

        QAbstractButton *ok = nullptr;
        int buttons = 0;
        for (QAbstractButton *button : box->findChildren<QAbstractButton *>())
            if (button->isVisible()) {
                ok = button;
                ++buttons;
            }
        ASSERT_EQ(buttons, 1);
        const QRect onScreen(ok->mapToGlobal(QPoint(0, 0)), ok->size());
        EXPECT_TRUE(screen.contains(onScreen))
            << "OK at y " << onScreen.top() << ", screen ends at " << screen.bottom();
        ok->click();
    };
    // Should the box not close by its OK button, the test ends it rather than hang.
    QTimer::singleShot(2000, [] {
        if (auto *box = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
            box->reject();
    });
    // Inside the application's own loop, as the program shows its boxes.
    DesktopPlatform desktop;
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(0, inspect); // runs once the box is up
        desktop.showMessage(&window, QStringLiteral("Caption"), text);
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    EXPECT_TRUE(seen);
}

INSTANTIATE_TEST_SUITE_P(Lengths, MessageBox, ::testing::Values(BoxCase{"OneError", 1}, BoxCase{"ThirtyTwoErrors", 32}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
