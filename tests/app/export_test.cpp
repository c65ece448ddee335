// Taking the readings out of the program: the list's context menu, Ctrl+C and the CSV file.

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>

#include <set>

#include "app/readingsexport.h"
#include "csvrecords.h"
#include "support/windowfixture.h"
#include "support/printto.h"

namespace {

// --- The file format, on its own -------------------------------------------------------------

TEST(CsvField, QuotesOnlyWhatRfc4180Requires)
{
    const std::pair<const char *, const char *> cases[] = {
        {"101", "101"},
        {"+2.345E+01", "+2.345E+01"},
        {"", ""},
        {" 1", " 1"},
        {"2026,12,10", "\"2026,12,10\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"\"", "\"\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"cr\rhere", "\"cr\rhere\""},
        {"tab\there", "\"tab\there\""},
        {"QV,QV3310,\"A\",1.0", "\"QV,QV3310,\"\"A\"\",1.0\""},
        // What a spreadsheet would run as a formula stays text; numbers stay numbers.
        {"+2.29713391E+01", "+2.29713391E+01"},
        {"-1.5e-3", "-1.5e-3"},
        {"-7", "-7"},
        {"+.5", "+.5"},
        {"=1+2", "'=1+2"},
        {"+1+2", "'+1+2"},
        {"-2+3", "'-2+3"},
        {"@SUM(A1:A9)", "'@SUM(A1:A9)"},
        {"=HYPERLINK(\"x\",\"y\")", "\"'=HYPERLINK(\"\"x\"\",\"\"y\"\")\""},
        {"\t=1", "\"'\t=1\""},
        {"\r=1", "\"'\r=1\""},
        {"-", "'-"},
        {"+2.3E+01 C", "'+2.3E+01 C"},
        {"a=1", "a=1"},
    };
    for (const auto &[field, expected] : cases) {
        SCOPED_TRACE(field);
        EXPECT_EQ(readingsexport::csvField(QString::fromLatin1(field)), QString::fromLatin1(expected));
    }
}

TEST(ReadingLine, IsABlankANumberAndATab)
{
    const std::pair<const char *, bool> cases[] = {
        {" 1\t101\t+2.3E+01\t+0.0E+00", true},
        {" 40\t120\t-1.0E-03\t+1.0E+01", true},
        {" 7\t", true},
        {"Rdng#\tChannel\tValue\t\tTime", false},
        {"Start Date (yyyy,mm,dd): 2026,12,10", false},
        {"Measurement time is about: 15 seconds.", false},
        {"", false},
        {"1\t101\t+2.3E+01\t+0.0E+00", false},
        {"  1\t101", false},
        {"-1\t101", false},
        {" 1 101", false},
        {" \t101", false},
    };
    for (const auto &[line, reading] : cases) {
        SCOPED_TRACE(line);
        EXPECT_EQ(readingsexport::isReadingLine(QString::fromLatin1(line)), reading);
    }
}

TEST(SuggestedFileName, CarriesTheStartAndNoSeparators)
{
    struct Case
    {
        const char *date;
        const char *time;
        const char *name;
    };
    const Case cases[] = {
        {"2026,12,10", "10,11,12.345", "readings-2026-12-10-101112.csv"},
        {"2026,12,10", "", "readings-2026-12-10.csv"},
        {"", "", "readings.csv"},
        {"../2026,/12,10", "10:11/12", "readings-2026-12-10-101112.csv"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const ReadingsModel::Start start{QString::fromLatin1(c.date), QString::fromLatin1(c.time), {}};
        EXPECT_EQ(readingsexport::suggestedFileName(start), QString::fromLatin1(c.name));
    }
}

// --- The window -------------------------------------------------------------------------------

class Export : public WindowTest
{
protected:
    void start(const std::vector<std::string> &faults = {})
    {
        WindowTest::start(faults);
        watch();
    }

    /// Notes each identification listed and answers the file dialog with saveAs.
    void watch()
    {
        QObject::connect(window.get(), &VISAComExample::lineAppended, [this](const QString &line) {
            if (idFollows)
                listedIds.append(line);
            idFollows = line == "Instrument ID is:";
        });
        platform.answerSaveFileName = [this](const QString &suggested) {
            suggestions.append(suggested);
            return saveAs;
        };
    }

    /// A complete run; the list then holds the instructions, date, time, header and 40 readings.
    void run()
    {
        window->GetReadings->click();
        ASSERT_TRUE(platform.messages.isEmpty()) << platform.messages.join("\n").toStdString();
        ASSERT_EQ(window->readingsListed(), 40);
    }

    /// Right-clicks the list as the operator does and returns the menu that opened.
    QMenu *openListMenu()
    {
        QWidget *viewport = window->List1->viewport();
        const QPoint pos = viewport->rect().center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, viewport->mapToGlobal(pos));
        QApplication::sendEvent(viewport, &event);
        return qobject_cast<QMenu *>(QApplication::activePopupWidget());
    }

    static QAction *entry(QMenu *menu, const QString &text)
    {
        for (QAction *action : menu->actions())
            if (action->text() == text)
                return action;
        return nullptr;
    }

    /// Chooses @p text in the list's context menu, as a click on the entry does.
    void choose(const QString &text)
    {
        QMenu *menu = openListMenu();
        ASSERT_NE(menu, nullptr);
        QAction *action = entry(menu, text);
        ASSERT_NE(action, nullptr) << text.toStdString();
        menu->close();
        action->trigger();
    }

    void select(const std::vector<int> &rows)
    {
        window->List1->clearSelection();
        for (int row : rows)
            window->List1->item(row)->setSelected(true);
    }

    void focusList()
    {
        window->activateWindow();
        QApplication::setActiveWindow(window.get());
        window->List1->setFocus();
        QCoreApplication::processEvents();
    }

    static void pressCopy(QWidget *target)
    {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier, "c");
        QApplication::sendEvent(target, &press);
    }

    void TearDown() override
    {
        if (QWidget *popup = QApplication::activePopupWidget())
            popup->close();
    }

    /// The file's text after its UTF-8 byte-order mark, which must be there.
    static QString readFile(const QString &path)
    {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
        const QByteArray bytes = file.readAll();
        EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF")) << path.toStdString();
        return QString::fromUtf8(bytes.mid(3));
    }

    QStringList listedIds;
    bool idFollows = false;
    QStringList suggestions;
    QString saveAs;
    QTemporaryDir folder;
};

using support::PrintTo;

struct MenuState
{
    const char *name;
    std::vector<std::string> faults;
    enum { StartUp, Selected, Run } action;
    bool copyEnabled;
    bool saveEnabled;
};

class ListMenu : public Export, public ::testing::WithParamInterface<MenuState>
{
};

TEST_P(ListMenu, OffersSaveOnlyWhenReadingsAreListed)
{
    const MenuState &s = GetParam();
    start(s.faults);
    if (s.action == MenuState::Selected)
        window->SelectIO->click();
    if (s.action == MenuState::Run)
        window->GetReadings->click();
    EXPECT_FALSE(window->ended());

    QMenu *menu = openListMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(menu->isVisible());
    QStringList texts;
    for (const QAction *action : menu->actions())
        texts.append(action->text());
    EXPECT_EQ(texts, (QStringList{"Copy", "Save Readings...", "Show Readings..."}));
    EXPECT_EQ(entry(menu, "Copy")->isEnabled(), s.copyEnabled);
    QAction *save = entry(menu, "Save Readings...");
    EXPECT_EQ(save->isEnabled(), s.saveEnabled);
    EXPECT_EQ(entry(menu, "Show Readings...")->isEnabled(), s.saveEnabled);

    // A disabled entry does nothing even when triggered; an enabled one asks for a file.
    menu->close();
    save->trigger();
    EXPECT_EQ(suggestions.size(), s.saveEnabled ? 1 : 0);
    EXPECT_TRUE(QDir(folder.path()).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(States, ListMenu,
                         ::testing::Values(MenuState{"AtStartUp", {}, MenuState::StartUp, true, false},
                                           MenuState{"AfterSelection", {}, MenuState::Selected, true, false},
                                           MenuState{"AfterARun", {}, MenuState::Run, true, true},
                                           MenuState{
                                               "AfterAWrongInstrument", {"wrong-model"}, MenuState::Run, false, false}),
                         [](const auto &info) { return std::string(info.param.name); });

struct Selection
{
    const char *name;
    std::vector<int> rows; ///< rows selected; none copies every line
};

class CopySelection : public Export, public ::testing::WithParamInterface<Selection>
{
};

TEST_P(CopySelection, PutsTheLinesOnTheClipboardInListOrder)
{
    start();
    run();
    const QStringList lines = listLines();
    select(GetParam().rows);

    QStringList expected;
    if (GetParam().rows.empty())
        expected = lines;
    for (int row : std::set<int>(GetParam().rows.begin(), GetParam().rows.end()))
        expected.append(lines[row]);
    QGuiApplication::clipboard()->setText("before");
    choose("Copy");

    EXPECT_EQ(QGuiApplication::clipboard()->text(), expected.join('\n'));
    EXPECT_EQ(listLines(), lines);
    EXPECT_TRUE(platform.messages.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Selections, CopySelection,
                         ::testing::Values(Selection{"Nothing", {}}, Selection{"OneReading", {7}},
                                           Selection{"HeaderAndReadings", {6, 7, 8}},
                                           Selection{"ScatteredBackwards", {46, 10, 4}}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(Export, CtrlCCopiesTheSelectionNotOnlyTheCurrentLine)
{
    start();
    run();
    focusList();
    ASSERT_EQ(QApplication::focusWidget(), window->List1);
    const QStringList lines = listLines();
    window->List1->setCurrentRow(9);
    select({7, 8, 9});
    QGuiApplication::clipboard()->setText("before");

    pressCopy(window->List1);

    EXPECT_EQ(QGuiApplication::clipboard()->text(), lines.mid(7, 3).join('\n'));
}

TEST_F(Export, NothingIsCopiedOrShownDuringARun)
{
    start();
    focusList();
    ASSERT_EQ(QApplication::focusWidget(), window->List1);
    QGuiApplication::clipboard()->setText("before");

    // Delivered while the run waits for the instrument.
    QWidget *viewport = window->List1->viewport();
    const QPoint pos = viewport->rect().center();
    QCoreApplication::postEvent(viewport,
                                new QContextMenuEvent(QContextMenuEvent::Mouse, pos, viewport->mapToGlobal(pos)));
    QCoreApplication::postEvent(window->List1, new QKeyEvent(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier, "c"));
    run();

    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "before");
}

struct BusCase
{
    const char *name;
    const char *address;
};

class SavedFile : public Export, public ::testing::WithParamInterface<BusCase>
{
};

TEST_P(SavedFile, HoldsTheStartTheInstrumentAndEveryReading)
{
    start();
    window->ioSelect->setText(GetParam().address);
    run();
    const QStringList lines = listLines();
    ASSERT_EQ(lines.size(), 47);
    ASSERT_EQ(listedIds.size(), 1);
    const QString date = lines[4].mid(QString("Start Date (yyyy,mm,dd): ").size());
    const QString time = lines[5].mid(QString("Start Time (hh,mm,ss.sss): ").size());

    saveAs = folder.filePath("run.csv");
    choose("Save Readings...");

    EXPECT_TRUE(platform.messages.isEmpty()) << platform.messages.join("\n").toStdString();
    EXPECT_FALSE(window->ended());
    ASSERT_EQ(suggestions.size(), 1);
    EXPECT_TRUE(suggestions[0].endsWith(".csv")) << suggestions[0].toStdString();
    EXPECT_EQ(platform.fileQuestions, QStringList{"Save Readings"});

    const QString text = readFile(saveAs);
    // The commas of the caption and of the date must not split them into fields.
    EXPECT_TRUE(text.startsWith("\"Start Date (yyyy,mm,dd)\",\"" + date + "\"\r\n")) << text.left(80).toStdString();
    const QList<QStringList> records = parseCsv(text);
    ASSERT_EQ(records.size(), 4 + 40);
    EXPECT_EQ(records[0], (QStringList{"Start Date (yyyy,mm,dd)", date}));
    EXPECT_EQ(records[1], (QStringList{"Start Time (hh,mm,ss.sss)", time}));
    EXPECT_EQ(records[2], (QStringList{"Instrument ID", listedIds[0]}));
    EXPECT_TRUE(listedIds[0].contains("QV3310")) << listedIds[0].toStdString();
    EXPECT_EQ(records[3], (QStringList{"Reading", "Channel", "Function", "Value", "Unit", "Time (s)"}));
    for (int n = 1; n <= 40; ++n) {
        const QStringList columns = lines[6 + n].split('\t');
        ASSERT_EQ(columns.size(), 4);
        const bool temperature = (n - 1) % 20 < 10;
        EXPECT_EQ(records[3 + n], (QStringList{QString::number(n), columns[1],
                                               temperature ? "Temperature (J thermocouple)" : "DC voltage (10 V range)",
                                               columns[2], temperature ? "°C" : "V", columns[3]}));
    }
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{"run.csv"});
}

INSTANTIATE_TEST_SUITE_P(Buses, SavedFile, ::testing::Values(BusCase{"Gpib", "GPIB0::9"}, BusCase{"Serial", "ASRL1"}),
                         [](const auto &info) { return std::string(info.param.name); });

/// One simulated instrument on the GPIB address and another, of a different model, on the serial one.
class TwoInstruments : public visa::Backend
{
public:
    TwoInstruments(std::shared_ptr<sim::Clock> clock, const char *gpibModel, const char *serialModel)
        : m_gpib(std::make_shared<sim::Qv3310>(clock, sim::Faults::parse({std::string("model=") + gpibModel})))
        , m_serial(std::make_shared<sim::Qv3310>(clock, sim::Faults::parse({std::string("model=") + serialModel})))
    {
    }

    std::unique_ptr<visa::IMessage> open(const visa::ResourceName &name, const visa::SessionOptions &options) override
    {
        const bool serial = name.canonical().starts_with("ASRL");
        return (serial ? m_serial : m_gpib).open(name, options);
    }

private:
    sim::SimulatedBackend m_gpib;
    sim::SimulatedBackend m_serial;
};

TEST_F(Export, TheSavedIdentificationIsTheLastOneListed)
{
    auto instruments = std::make_shared<TwoInstruments>(clock, "QV3310-A", "QV3310-B");
    window = std::make_unique<VISAComExample>(instruments, platform);
    watch();
    window->load();
    window->SelectIO->click();
    window->ioSelect->setText("ASRL1");
    window->SelectIO->click();
    ASSERT_EQ(listedIds.size(), 2);
    ASSERT_NE(listedIds[0], listedIds[1]);
    run();

    saveAs = folder.filePath("ids.csv");
    choose("Save Readings...");

    const QList<QStringList> records = parseCsv(readFile(saveAs));
    ASSERT_GE(records.size(), 3);
    EXPECT_EQ(records[2], (QStringList{"Instrument ID", listedIds[1]}));
    EXPECT_TRUE(listedIds[1].contains("QV3310-B")) << listedIds[1].toStdString();
}

TEST_F(Export, ACancelledDialogWritesNothing)
{
    start();
    run();
    saveAs.clear();
    choose("Save Readings...");

    EXPECT_EQ(suggestions.size(), 1);
    EXPECT_TRUE(platform.messages.isEmpty());
    EXPECT_TRUE(QDir(folder.path()).isEmpty());
}

TEST_F(Export, NoFileIsWrittenUnlessAsked)
{
    start();
    run();
    choose("Copy");
    window->GetReadings->click();
    EXPECT_TRUE(suggestions.isEmpty());
}

struct WriteFailure
{
    const char *name;
    const char *target; ///< relative to the test's folder
    const char *reason; ///< a part of the reason shown
};

class SaveFailure : public Export, public ::testing::WithParamInterface<WriteFailure>
{
};

TEST_P(SaveFailure, IsShownAndTheProgramGoesOn)
{
    const WriteFailure &c = GetParam();
    start();
    run();
    ASSERT_TRUE(QDir(folder.path()).mkdir("existing"));
    const QStringList lines = listLines();
    saveAs = folder.filePath(c.target);
    choose("Save Readings...");

    ASSERT_EQ(platform.messages.size(), 1);
    const QString message = platform.messages.front();
    EXPECT_TRUE(message.contains(QDir::toNativeSeparators(saveAs))) << message.toStdString();
    EXPECT_TRUE(message.contains(c.reason, Qt::CaseInsensitive)) << message.toStdString();
    EXPECT_EQ(platform.captions.front(), VISAComExample::kAppTitle);
    EXPECT_FALSE(window->ended());
    EXPECT_EQ(platform.ends, 0);
    EXPECT_EQ(listLines(), lines);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"existing"});

    // The operator can try again.
    saveAs = folder.filePath("again.csv");
    choose("Save Readings...");
    EXPECT_EQ(platform.messages.size(), 1);
    EXPECT_TRUE(QFile::exists(saveAs));
}

INSTANTIATE_TEST_SUITE_P(Targets, SaveFailure,
                         ::testing::Values(WriteFailure{"MissingFolder", "missing/run.csv", "No such file"},
                                           WriteFailure{"AFolder", "existing", "directory"}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
