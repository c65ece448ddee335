// The readings beside the list: the model of a run's readings, the "Readings" window and its
// chart, the progress of a run, the output file, the readings kept after a failure, and saving
// that never loses a file.

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolTip>
#include <QtCharts/QValueAxis>
#include <QtCharts/QXYSeries>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/batch.h"
#include "app/batchprogress.h"
#include "app/csvwriter.h"
#include "app/readingschart.h"
#include "app/readingsexport.h"
#include "app/readingskeeper.h"
#include "app/readingsmodel.h"
#include "app/readingswindow.h"
#include "visa/visaerror.h"
#include "csvrecords.h"
#include "support/windowfixture.h"
#include "support/printto.h"

namespace {

// --- One reading record's value ----------------------------------------------------------------

struct ValueCase
{
    const char *name;
    const char *field;
    int channel;
    ReadingValue::Kind kind;
    double number; ///< for Number
    const char *shown; ///< the table's text
    const char *unit; ///< the table's unit
    bool plotted;
};

using support::PrintTo;

class ValueField : public ::testing::TestWithParam<ValueCase>
{
};

TEST_P(ValueField, ReadsAsTheInstrumentMeantIt)
{
    const ValueCase &c = GetParam();
    ReadingsModel model;
    model.begin({});
    const Reading &r = model.append(1, QString::number(c.channel), QString::fromUtf8(c.field), "+2.70000000E-01");

    EXPECT_EQ(r.value.kind, c.kind);
    if (c.kind == ReadingValue::Number) {
        EXPECT_DOUBLE_EQ(r.value.number, c.number);
    }
    EXPECT_EQ(r.valueDisplay(), QString::fromUtf8(c.shown));
    EXPECT_EQ(r.unit(), QString::fromUtf8(c.unit));
    EXPECT_EQ(r.plottable(), c.plotted);
    EXPECT_EQ(model.index(0, ReadingsModel::ValueColumn).data().toString(), QString::fromUtf8(c.shown));
    EXPECT_EQ(model.index(0, ReadingsModel::UnitColumn).data().toString(), QString::fromUtf8(c.unit));
}

using K = ReadingValue::Kind;

INSTANTIATE_TEST_SUITE_P(
    Records, ValueField,
    ::testing::Values(
        ValueCase{"Nr3", "+2.29713391E+01", 101, K::Number, 22.9713391, "22.9713391", "°C", true},
        ValueCase{"Nr3Lower", "-1.5e-3", 111, K::Number, -0.0015, "-0.0015", "V", true},
        ValueCase{"Nr1", "23", 101, K::Number, 23, "23", "°C", true},
        ValueCase{"Nr1Signed", "-5", 112, K::Number, -5, "-5", "V", true},
        ValueCase{"Nr2", "+23.50", 101, K::Number, 23.5, "23.5", "°C", true},
        ValueCase{"Nr2NoInteger", ".5", 111, K::Number, 0.5, "0.5", "V", true},
        ValueCase{"Nr2NoFraction", "5.", 111, K::Number, 5, "5", "V", true},
        ValueCase{"Blanks", "  +1.0E+01 ", 120, K::Number, 10, "10", "V", true},
        ValueCase{"CelsiusSuffix", "+2.29713391E+01 C", 101, K::Number, 22.9713391, "22.9713391", "°C", true},
        ValueCase{"VoltSuffix", "-1.23456789E-03 VDC", 115, K::Number, -0.00123456789, "-0.00123456789", "V", true},
        ValueCase{"SuffixNoBlank", "1.5V", 115, K::Number, 1.5, "1.5", "V", true},
        ValueCase{"OtherUnitKeptOffTheAxis", "+7.3E+01 F", 101, K::Number, 73, "73", "°F", false},
        ValueCase{"Overload", "9.9E37", 101, K::Overload, 0, "overload", "°C", false},
        ValueCase{"OverloadNr3WithUnit", "+9.90000000E+37 VDC", 111, K::Overload, 0, "overload", "V", false},
        ValueCase{"NegativeOverload", "-9.9E+37", 111, K::Overload, 0, "overload", "V", false},
        ValueCase{"NotANumberValue", "+9.91E+37", 101, K::Text, 0, "+9.91E+37", "°C", false},
        ValueCase{"Garbage", "garbage", 101, K::Text, 0, "garbage", "°C", false},
        ValueCase{"Empty", "", 101, K::Text, 0, "", "°C", false},
        ValueCase{"TwoPoints", "1.2.3", 101, K::Text, 0, "1.2.3", "°C", false},
        ValueCase{"TextAfterUnit", "+2.3E+01 C extra", 101, K::Text, 0, "+2.3E+01 C extra", "°C", false},
        ValueCase{"DigitsAfterUnit", "12abc3", 101, K::Text, 0, "12abc3", "°C", false},
        ValueCase{"Infinity", "inf", 101, K::Text, 0, "inf", "°C", false},
        ValueCase{"NaN", "nan", 101, K::Text, 0, "nan", "°C", false},
        ValueCase{"TooLarge", "1E999", 101, K::Text, 0, "1E999", "°C", false},
        ValueCase{"Hex", "0x1A", 101, K::Text, 0, "0x1A", "°C", false},
        ValueCase{"SignOnly", "+", 101, K::Text, 0, "+", "°C", false},
        ValueCase{"Formula", "=1+2", 101, K::Text, 0, "=1+2", "°C", false},
        ValueCase{"UnknownChannel", "+1.0E+00", 999, K::Number, 1, "1", "", false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ReadingsModel, HoldsTheColumnsOfEachReading)
{
    ReadingsModel model;
    model.begin({"2026,12,10", "10,11,12.345", "QV,QV3310,1,1.0"});
    model.append(1, "101", "+2.29713391E+01", "+2.70000000E-01");
    model.append(2, "111", "+1.25000000E+00 VDC", "+5.20000000E+00");

    ASSERT_EQ(model.rowCount(), 2);
    ASSERT_EQ(model.columnCount(), 6);
    QStringList header;
    for (int column = 0; column < model.columnCount(); ++column)
        header.append(model.headerData(column, Qt::Horizontal).toString());
    EXPECT_EQ(header, (QStringList{"Reading", "Channel", "Function", "Value", "Unit", "Time (s)"}));
    const auto row = [&model](int r) {
        QStringList cells;
        for (int column = 0; column < model.columnCount(); ++column)
            cells.append(model.index(r, column).data().toString());
        return cells;
    };
    EXPECT_EQ(row(0), (QStringList{"1", "101", "Temperature (J thermocouple)", "22.9713391", "°C", "0.27"}));
    EXPECT_EQ(row(1), (QStringList{"2", "111", "DC voltage (10 V range)", "1.25", "V", "5.2"}));
    EXPECT_EQ(model.index(1, ReadingsModel::ValueColumn).data(ReadingsModel::kSortRole).toDouble(), 1.25);

    // The CSV keeps the instrument's numbers as sent, without the unit suffix.
    EXPECT_EQ(readingsexport::csvRecord(model.reading(0)),
              "1,101,Temperature (J thermocouple),+2.29713391E+01,°C,+2.70000000E-01\r\n");
    EXPECT_EQ(readingsexport::csvRecord(model.reading(1)),
              "2,111,DC voltage (10 V range),+1.25000000E+00,V,+5.20000000E+00\r\n");
}

TEST(ReadingsModel, ACsvRecordNeverSpillsIntoAnotherColumn)
{
    ReadingsModel model;
    model.begin({});
    model.append(1, "101", "=cmd|' /C calc'!A0", "+1.0E+00");
    model.append(2, "102", "two\tcolumns\r\nand lines", "-bad");
    model.append(3, "103", "9.9E37", "+1.0E+00");
    EXPECT_EQ(readingsexport::csvRecord(model.reading(0)),
              "1,101,Temperature (J thermocouple),'=cmd|' /C calc'!A0,°C,+1.0E+00\r\n");
    EXPECT_EQ(readingsexport::csvRecord(model.reading(1)),
              "2,102,Temperature (J thermocouple),\"two\tcolumns\r\nand lines\",°C,'-bad\r\n");
    EXPECT_EQ(readingsexport::csvRecord(model.reading(2)),
              "3,103,Temperature (J thermocouple),overload,°C,+1.0E+00\r\n");
}

TEST(ReadingsModel, ANewPassStartsWhenAChannelComesAgain)
{
    const std::pair<QStringList, std::vector<int>> cases[] = {
        {{"101", "102", "103", "101", "102", "103"}, {1, 1, 1, 2, 2, 2}},
        {{"101", "101", "101"}, {1, 2, 3}},
        {{"105", "101", "110"}, {1, 1, 1}},
        {{"101", "102", "102", "101"}, {1, 1, 2, 2}},
    };
    for (const auto &[channels, passes] : cases) {
        SCOPED_TRACE(channels.join(' ').toStdString());
        ReadingsModel model;
        model.begin({});
        std::vector<int> got;
        for (int i = 0; i < channels.size(); ++i)
            got.push_back(model.append(i + 1, channels[i], "1", "0").pass);
        EXPECT_EQ(got, passes);
    }
}

TEST(ReadingsSort, PutsNumbersInOrderAndTextsAfterThem)
{
    ReadingsModel model;
    model.begin({});
    const char *values[] = {"+1.0E+01", "garbage", "-2", "9.9E37", "+3.5", "abc"};
    for (int i = 0; i < 6; ++i)
        model.append(i + 1, "101", values[i], "0");
    ReadingsSortModel sorted;
    sorted.setSourceModel(&model);
    sorted.sort(ReadingsModel::ValueColumn, Qt::AscendingOrder);
    QStringList order;
    for (int row = 0; row < sorted.rowCount(); ++row)
        order.append(sorted.index(row, ReadingsModel::ValueColumn).data().toString());
    EXPECT_EQ(order, (QStringList{"-2", "3.5", "10", "overload", "abc", "garbage"}));
}

// --- Through a whole run --------------------------------------------------------------------

/// Between the window and the instrument: replaces the reply of chosen "DATA:REMove? 1" queries,
/// counted from 1, and fails one of them as a broken line would.
class ReadingFaults : public visa::Backend
{
public:
    explicit ReadingFaults(std::shared_ptr<visa::Backend> inner)
        : m_inner(std::move(inner))
    {
    }

    std::unique_ptr<visa::IMessage> open(const visa::ResourceName &name, const visa::SessionOptions &options) override
    {
        return std::make_unique<Session>(m_inner->open(name, options), *this);
    }

    std::map<int, std::string> replies; ///< reading number -> the whole reply
    int failAt = 0; ///< this reading's reply never comes

private:
    class Session : public visa::IMessage
    {
    public:
        Session(std::unique_ptr<visa::IMessage> inner, ReadingFaults &faults)
            : m_inner(std::move(inner))
            , m_faults(faults)
        {
        }
        std::string ResourceName() const override { return m_inner->ResourceName(); }
        void Write(std::string_view data, bool end) override
        {
            m_reading = data.starts_with("DATA:REMove? 1") ? m_reading + 1 : m_reading;
            m_isReading = data.starts_with("DATA:REMove? 1");
            m_inner->Write(data, end);
        }
        std::string Read() override
        {
            std::string reply = m_inner->Read();
            if (!m_isReading)
                return reply;
            if (m_reading == m_faults.failAt)
                throw visa::VisaError("ReadList (reply to \"DATA:REMove? 1\")", ResourceName(), "time-out");
            const auto replaced = m_faults.replies.find(m_reading);
            return replaced == m_faults.replies.end() ? reply : replaced->second;
        }
        void Clear() override { m_inner->Clear(); }
        void Close() override { m_inner->Close(); }

    private:
        std::unique_ptr<visa::IMessage> m_inner;
        ReadingFaults &m_faults;
        int m_reading = 0;
        bool m_isReading = false;
    };

    std::shared_ptr<visa::Backend> m_inner;
};

/// The folder readings are kept in after a failure.
QString keptFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

QStringList keptFiles()
{
    return QDir(keptFolder()).entryList(QDir::Files);
}

/// RFC 4180 records of a file that begins with a UTF-8 byte-order mark; every record must end
/// with CR LF.
QList<QStringList> readCsv(const QString &path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    const QByteArray bytes = file.readAll();
    EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
    EXPECT_TRUE(bytes.isEmpty() || bytes.endsWith("\r\n")) << "a record is cut off";
    return parseCsv(QString::fromUtf8(bytes.mid(3)));
}

const QStringList kColumns = {"Reading", "Channel", "Function", "Value", "Unit", "Time (s)"};

class Readings : public WindowTest
{
protected:
    void SetUp() override { QDir(keptFolder()).removeRecursively(); }

    void TearDown() override
    {
        QDir(keptFolder()).removeRecursively();
        if (QWidget *popup = QApplication::activePopupWidget())
            popup->close();
    }

    /// The window on the simulated instrument, with reading faults in between.
    void start(const std::vector<std::string> &faults = {})
    {
        instrument = std::make_shared<sim::Qv3310>(clock, sim::Faults::parse(faults));
        log = sim::MessageLog::attachedTo(*instrument);
        backend = std::make_shared<RecordingBackend>(std::make_shared<sim::SimulatedBackend>(instrument));
        readingFaults = std::make_shared<ReadingFaults>(backend);
        window = std::make_unique<VISAComExample>(readingFaults, platform);
        platform.answerSaveFileName = [this](const QString &) { return saveAs; };
        window->load();
    }

    void run()
    {
        window->GetReadings->click();
        ASSERT_TRUE(platform.messages.isEmpty()) << platform.messages.join("\n").toStdString();
        ASSERT_EQ(window->readingsListed(), 40);
    }

    /// The columns of listed reading @p n (from 1).
    QStringList listed(int n) const { return window->List1->item(6 + n)->text().split('\t'); }

    void pressCtrlR()
    {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_R, Qt::ControlModifier, "r");
        QApplication::setActiveWindow(window.get());
        window->activateWindow();
        QCoreApplication::processEvents();
        QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : window.get();
        QKeyEvent shortcut(QEvent::ShortcutOverride, Qt::Key_R, Qt::ControlModifier, "r");
        QApplication::sendEvent(target, &shortcut);
        QApplication::sendEvent(target, &press);
    }

    QAction *listMenuEntry(const QString &text)
    {
        QWidget *viewport = window->List1->viewport();
        const QPoint pos = viewport->rect().center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, viewport->mapToGlobal(pos));
        QApplication::sendEvent(viewport, &event);
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return nullptr;
        menu->close();
        for (QAction *action : menu->actions())
            if (action->text() == text)
                return action;
        return nullptr;
    }

    std::shared_ptr<ReadingFaults> readingFaults;
    QString saveAs;
    QTemporaryDir folder;
};

TEST_F(Readings, CtrlROpensOneWindowWithEveryReadingOfTheRun)
{
    start();
    run();
    pressCtrlR();
    ReadingsWindow *shown = window->readingsWindow();
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->isVisible());
    EXPECT_TRUE(shown->isWindow());
    EXPECT_FALSE(shown->isModal());
    EXPECT_EQ(shown->windowTitle(), "Readings");

    // The start and the instrument head it.
    const QString date = window->List1->item(4)->text().mid(QString("Start Date (yyyy,mm,dd): ").size());
    const QString time = window->List1->item(5)->text().mid(QString("Start Time (hh,mm,ss.sss): ").size());
    EXPECT_TRUE(shown->heading()->text().contains(date)) << shown->heading()->text().toStdString();
    EXPECT_TRUE(shown->heading()->text().contains(time));
    EXPECT_TRUE(shown->heading()->text().contains("QV3310"));

    const QAbstractItemModel *table = shown->table()->model();
    ASSERT_EQ(table->rowCount(), 40);
    ASSERT_EQ(table->columnCount(), 6);
    for (int n = 1; n <= 40; ++n) {
        SCOPED_TRACE(n);
        const QStringList line = listed(n);
        const bool temperature = (n - 1) % 20 < 10;
        EXPECT_EQ(table->index(n - 1, 0).data().toString(), QString::number(n));
        EXPECT_EQ(table->index(n - 1, 1).data().toString(), line[1]);
        EXPECT_EQ(table->index(n - 1, 2).data().toString(),
                  temperature ? "Temperature (J thermocouple)" : "DC voltage (10 V range)");
        EXPECT_DOUBLE_EQ(table->index(n - 1, 3).data().toString().toDouble(), line[2].toDouble());
        EXPECT_EQ(table->index(n - 1, 4).data().toString(), temperature ? "°C" : "V");
        EXPECT_DOUBLE_EQ(table->index(n - 1, 5).data().toString().toDouble(), line[3].toDouble());
    }

    // Asked again, the same window comes up.
    pressCtrlR();
    EXPECT_EQ(window->readingsWindow(), shown);
    EXPECT_EQ(window->findChildren<ReadingsWindow *>().size(), 1);
    EXPECT_TRUE(platform.messages.isEmpty());
}

TEST_F(Readings, TheChartDrawsEachPassOfEachQuantityAgainstTheChannel)
{
    start();
    run();
    QAction *show = listMenuEntry("Show Readings...");
    ASSERT_NE(show, nullptr);
    ASSERT_TRUE(show->isEnabled());
    show->trigger();
    ASSERT_NE(window->readingsWindow(), nullptr);
    ReadingsChart *chart = window->readingsWindow()->chart();

    const QList<QXYSeries *> series = chart->series();
    QStringList names;
    for (const QXYSeries *s : series)
        names.append(s->name());
    ASSERT_EQ(names, (QStringList{"Pass 1, °C", "Pass 1, V", "Pass 2, °C", "Pass 2, V"}));
    for (int s = 0; s < 4; ++s) {
        SCOPED_TRACE(names[s].toStdString());
        const QList<QPointF> points = series[s]->points();
        ASSERT_EQ(points.size(), 10);
        const int firstReading = (s / 2) * 20 + (s % 2) * 10 + 1;
        for (int i = 0; i < 10; ++i) {
            const QStringList line = listed(firstReading + i);
            EXPECT_EQ(points[i].x(), line[1].toDouble());
            EXPECT_DOUBLE_EQ(points[i].y(), line[2].toDouble());
            EXPECT_EQ(chart->rowOf(series[s], i), firstReading + i - 1);
        }
        // Each quantity on its own axis, and the axis holds every point.
        const QValueAxis *axis = s % 2 == 0 ? chart->temperatureAxis() : chart->voltageAxis();
        EXPECT_TRUE(series[s]->attachedAxes().contains(const_cast<QValueAxis *>(axis)));
        for (const QPointF &p : points) {
            EXPECT_LE(axis->min(), p.y());
            EXPECT_GE(axis->max(), p.y());
        }
    }
    EXPECT_NE(chart->temperatureAxis(), chart->voltageAxis());

    // The tooltip is the reading's row; hovering a point shows it.
    const QString tip = chart->toolTipFor(series[2], 3);
    QToolTip::hideText();
    emit series[2]->hovered(series[2]->at(3), true);
    EXPECT_EQ(QToolTip::text(), tip);
    QToolTip::hideText();
    EXPECT_TRUE(tip.contains("Reading: 24")) << tip.toStdString();
    EXPECT_TRUE(tip.contains("Channel: 104"));
    EXPECT_TRUE(tip.contains("Unit: °C"));
    EXPECT_TRUE(tip.contains("Time (s): " + window->readingsKeeper().model().reading(23).timeDisplay() + "\n")
                || tip.endsWith("Time (s): " + window->readingsKeeper().model().reading(23).timeDisplay()))
        << tip.toStdString();
}

TEST_F(Readings, ValuesThatAreNoNumberAreShownButLeftOffTheChart)
{
    start();
    readingFaults->replies[3] = "garbage,+1.0E+00,103\n";
    readingFaults->replies[12] = "+9.90000000E+37,+3.0E+00,112\n";
    readingFaults->replies[21] = "+2.25000000E+01 C,+1.0E+01,101\n";
    run();
    window->showReadings();
    ReadingsWindow *shown = window->readingsWindow();
    ASSERT_NE(shown, nullptr);
    const QAbstractItemModel *table = shown->table()->model();
    EXPECT_EQ(table->index(2, ReadingsModel::ValueColumn).data().toString(), "garbage");
    EXPECT_EQ(table->index(11, ReadingsModel::ValueColumn).data().toString(), "overload");
    EXPECT_EQ(table->index(20, ReadingsModel::ValueColumn).data().toString(), "22.5");

    int points = 0;
    for (const QXYSeries *s : shown->chart()->series()) {
        points += int(s->count());
        for (int i = 0; i < s->count(); ++i) {
            const int row = shown->chart()->rowOf(s, i);
            EXPECT_NE(row, 2);
            EXPECT_NE(row, 11);
        }
    }
    EXPECT_EQ(points, 38);
    EXPECT_DOUBLE_EQ(shown->chart()->series()[2]->at(0).y(), 22.5);
}

TEST_F(Readings, ShowReadingsIsOfferedOnlyWhenTheListHoldsReadings)
{
    start();
    QAction *show = listMenuEntry("Show Readings...");
    ASSERT_NE(show, nullptr);
    EXPECT_FALSE(show->isEnabled());
    pressCtrlR();
    EXPECT_EQ(window->readingsWindow(), nullptr);
    window->SelectIO->click();
    EXPECT_FALSE(listMenuEntry("Show Readings...")->isEnabled());
    run();
    EXPECT_TRUE(listMenuEntry("Show Readings...")->isEnabled());
}

struct CopyCase
{
    const char *name;
    std::vector<std::pair<int, int>> cells; ///< (row, column) selected; none copies all
    int sortColumn; ///< -1 for the order removed
    QStringList header;
    std::vector<std::vector<int>> expected; ///< per line: the source row, then -1 for an empty field or a column
};

class CopyReadings : public Readings, public ::testing::WithParamInterface<CopyCase>
{
};

TEST_P(CopyReadings, GivesTabSeparatedLinesUnderTheirColumnNames)
{
    const CopyCase &c = GetParam();
    start();
    readingFaults->replies[2] = "bad\tvalue\r\nsplit,+1.0E+00,102\n";
    run();
    window->showReadings();
    ReadingsWindow *shown = window->readingsWindow();
    ASSERT_NE(shown, nullptr);
    QTableView *table = shown->table();
    if (c.sortColumn >= 0)
        table->sortByColumn(c.sortColumn, Qt::DescendingOrder);
    table->clearSelection();
    for (const auto &[row, column] : c.cells)
        table->selectionModel()->select(table->model()->index(row, column), QItemSelectionModel::Select);

    QGuiApplication::clipboard()->setText("before");
    QKeyEvent press(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier, "c");
    QKeyEvent shortcut(QEvent::ShortcutOverride, Qt::Key_C, Qt::ControlModifier, "c");
    QApplication::setActiveWindow(shown);
    shown->activateWindow();
    table->setFocus();
    QCoreApplication::processEvents();
    ASSERT_EQ(QApplication::focusWidget(), table);
    QApplication::sendEvent(table, &shortcut);
    QApplication::sendEvent(table, &press);
    const QString copied = QGuiApplication::clipboard()->text();
    ASSERT_NE(copied, "before");

    QStringList lines = copied.split('\n');
    ASSERT_EQ(lines.takeLast(), "");
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.takeFirst(), c.header.join('\t'));
    const ReadingsModel &model = window->readingsKeeper().model();
    if (c.expected.empty()) {
        // Everything, in the order shown; no field's TAB or line break shifts a column.
        ASSERT_EQ(lines.size(), 40);
        for (int row = 0; row < 40; ++row) {
            const QStringList fields = lines[row].split('\t');
            ASSERT_EQ(fields.size(), 6) << lines[row].toStdString();
            EXPECT_EQ(fields[ReadingsModel::ReadingColumn], QString::number(row + 1));
            EXPECT_EQ(fields[ReadingsModel::ValueColumn],
                      row == 1 ? QString("bad value  split") : model.reading(row).valueDisplay());
        }
        return;
    }
    ASSERT_EQ(lines.size(), qsizetype(c.expected.size()));
    for (size_t i = 0; i < c.expected.size(); ++i) {
        const std::vector<int> &want = c.expected[i];
        const QStringList fields = lines[qsizetype(i)].split('\t');
        ASSERT_EQ(fields.size(), qsizetype(want.size() - 1)) << lines[qsizetype(i)].toStdString();
        for (size_t f = 1; f < want.size(); ++f)
            EXPECT_EQ(fields[qsizetype(f - 1)],
                      want[f] < 0 ? QString() : model.index(want[0], want[f]).data().toString());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Selections, CopyReadings,
    ::testing::Values(CopyCase{"Nothing", {}, -1, kColumns, {}},
                      CopyCase{"ABlock",
                               {{4, 1}, {4, 3}, {5, 1}, {5, 3}, {4, 2}, {5, 2}},
                               -1,
                               {"Channel", "Function", "Value"},
                               {{4, 1, 2, 3}, {5, 1, 2, 3}}},
                      CopyCase{"ScatteredCells", {{0, 0}, {7, 3}}, -1, {"Reading", "Value"}, {{0, 0, -1}, {7, -1, 3}}},
                      CopyCase{"SortedByReadingDescending",
                               {{0, 0}, {0, 4}, {1, 0}, {1, 4}},
                               ReadingsModel::ReadingColumn,
                               {"Reading", "Unit"},
                               {{39, 0, 4}, {38, 0, 4}}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Readings, TheProgressBarShowsTheStoredReadingsDuringTheWaitOnly)
{
    start();
    QProgressBar *bar = window->storedReadingsBar();
    ASSERT_NE(bar, nullptr);
    EXPECT_FALSE(bar->isVisible());

    // In the gap between the list and "Exit", over no control.
    const QRect area = bar->geometry();
    EXPECT_GE(area.top(), window->List1->geometry().bottom() + 1);
    EXPECT_LE(area.bottom(), window->ExitProg->geometry().top() - 1);
    EXPECT_LE(area.height(), 8);
    for (const QWidget *control : std::initializer_list<const QWidget *>{
             window->GetReadings, window->List1, window->ioSelect, window->ExitProg, window->Label1, window->SelectIO})
        EXPECT_FALSE(area.intersects(control->geometry()));

    std::vector<int> values;
    std::vector<int> polled;
    bool shownEachTime = true, waitCursor = true;
    QObject::connect(bar, &QProgressBar::valueChanged, [&](int value) {
        values.push_back(value);
        shownEachTime = shownEachTime && bar->isVisible() && bar->maximum() == 40;
        waitCursor = waitCursor && window->cursor().shape() == Qt::WaitCursor;
    });
    QObject::connect(window.get(), &VISAComExample::storedReadings,
                     [&](int points, int, double) { polled.push_back(points); });
    run();

    // Fed by the poll alone: one value per "DATA:POINTS?", no query of its own.
    const auto messages = received();
    EXPECT_EQ(size_t(std::count(messages.begin(), messages.end(), "DATA:POINTS?")), polled.size());
    ASSERT_GE(values.size(), 3u) << "the bar moved during the wait";
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    EXPECT_EQ(values.back(), 40);
    EXPECT_GT(std::count_if(values.begin(), values.end(), [](int v) { return v > 0 && v < 40; }), 0);
    EXPECT_TRUE(shownEachTime);
    EXPECT_TRUE(waitCursor);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_EQ(window->cursor().shape(), Qt::ArrowCursor);
}

struct WayOut
{
    const char *name;
    std::vector<std::string> faults;
    int failAt;
    bool ends;
};

class RunEnd : public Readings, public ::testing::WithParamInterface<WayOut>
{
};

TEST_P(RunEnd, RestoresTheCursorAndHidesTheBar)
{
    const WayOut &c = GetParam();
    start(c.faults);
    readingFaults->failAt = c.failAt;
    bool waitedWithCursor = false;
    QObject::connect(window.get(), &VISAComExample::storedReadings,
                     [&](int, int, double) { waitedWithCursor = window->cursor().shape() == Qt::WaitCursor; });
    window->GetReadings->click();
    EXPECT_EQ(window->ended(), c.ends);
    EXPECT_EQ(window->cursor().shape(), Qt::ArrowCursor);
    EXPECT_FALSE(window->storedReadingsBar()->isVisible());
    if (c.name != std::string("WrongInstrument")) {
        EXPECT_TRUE(waitedWithCursor);
    }
}

INSTANTIATE_TEST_SUITE_P(Ways, RunEnd,
                         ::testing::Values(WayOut{"Normal", {}, 0, false}, WayOut{"FailureAtReading25", {}, 25, true},
                                           WayOut{"ScanNeverCompletes", {"scan-never-completes"}, 0, true},
                                           WayOut{"WrongInstrument", {"wrong-model"}, 0, false}),
                         [](const auto &info) { return std::string(info.param.name); });

// --- Readings that leave the program ---------------------------------------------------------

TEST_F(Readings, TheOutputFileHoldsTheRunAsSaveReadingsWritesIt)
{
    start();
    const QString output = folder.filePath("r.csv");
    window->setOutputFile(output);
    std::vector<qint64> sizes;
    QObject::connect(window.get(), &VISAComExample::lineAppended, [&](const QString &line) {
        if (line.startsWith(" "))
            sizes.push_back(QFileInfo(output).size());
    });
    run();

    // Written as the readings arrive: the file grew with each one.
    ASSERT_EQ(sizes.size(), 40u);
    EXPECT_TRUE(std::is_sorted(sizes.begin(), sizes.end()));
    EXPECT_LT(sizes.front(), sizes.back());

    const QList<QStringList> records = readCsv(output);
    ASSERT_EQ(records.size(), 4 + 40);
    EXPECT_EQ(records[0][0], "Start Date (yyyy,mm,dd)");
    EXPECT_TRUE(records[2][1].contains("QV3310"));
    EXPECT_EQ(records[3], kColumns);
    for (int n = 1; n <= 40; ++n) {
        const QStringList line = listed(n);
        EXPECT_EQ(records[3 + n][0], QString::number(n));
        EXPECT_EQ(records[3 + n][1], line[1]);
        EXPECT_EQ(records[3 + n][3], line[2]);
        EXPECT_EQ(records[3 + n][4], (n - 1) % 20 < 10 ? "°C" : "V");
        EXPECT_EQ(records[3 + n][5], line[3]);
    }

    // "Save Readings..." writes the very same bytes.
    saveAs = folder.filePath("saved.csv");
    listMenuEntry("Save Readings...")->trigger();
    QFile a(output), b(saveAs);
    ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    EXPECT_EQ(a.readAll(), b.readAll());

    // A second run of the same program does not replace the first run's file.
    window->GetReadings->click();
    EXPECT_TRUE(QFileInfo::exists(folder.filePath("r-2.csv")));
    EXPECT_EQ(readCsv(folder.filePath("r-2.csv")).size(), 44);
    EXPECT_EQ(readCsv(output).size(), 44);
    EXPECT_TRUE(keptFiles().isEmpty());
}

TEST_F(Readings, AFailureAtReading25LeavesReadings1To24InTheOutputFile)
{
    start();
    const QString output = folder.filePath("r.csv");
    window->setOutputFile(output);
    readingFaults->failAt = 25;
    window->GetReadings->click();

    ASSERT_EQ(platform.messages.size(), 1);
    // They are in a file already: the message stays the failure's own.
    EXPECT_EQ(platform.messages[0], "ReadList (reply to \"DATA:REMove? 1\") on GPIB0::9::INSTR failed: time-out");
    EXPECT_TRUE(window->ended());
    const QList<QStringList> records = readCsv(output);
    ASSERT_EQ(records.size(), 4 + 24);
    for (int n = 1; n <= 24; ++n) {
        ASSERT_EQ(records[3 + n].size(), 6);
        EXPECT_EQ(records[3 + n][0], QString::number(n));
    }
    EXPECT_TRUE(keptFiles().isEmpty());
}

TEST_F(Readings, AFailureAfterReadingsKeepsThemAndTheMessageSaysWhere)
{
    start();
    readingFaults->failAt = 25;
    window->GetReadings->click();

    ASSERT_EQ(platform.messages.size(), 1);
    const QStringList parts = platform.messages[0].split('\n');
    ASSERT_EQ(parts.size(), 2) << platform.messages[0].toStdString();
    EXPECT_EQ(parts[0], "ReadList (reply to \"DATA:REMove? 1\") on GPIB0::9::INSTR failed: time-out");
    ASSERT_EQ(keptFiles().size(), 1);
    const QString kept = QDir(keptFolder()).filePath(keptFiles()[0]);
    EXPECT_EQ(parts[1], "Readings 1 to 24 were saved to " + QDir::toNativeSeparators(kept));
    // Named by the scan's start.
    const QString date = window->readingsKeeper().model().start().date;
    EXPECT_TRUE(keptFiles()[0].startsWith("readings-" + QString(date).replace(',', '-') + "-"))
        << keptFiles()[0].toStdString();

    const QList<QStringList> records = readCsv(kept);
    ASSERT_EQ(records.size(), 4 + 24);
    EXPECT_EQ(records[3], kColumns);
    for (int n = 1; n <= 24; ++n) {
        const Reading &r = window->readingsKeeper().model().reading(n - 1);
        EXPECT_EQ(records[3 + n], (QStringList{QString::number(n), r.channelText, r.function.name, r.value.numberText,
                                               r.unit(), r.timeText}));
    }
}

TEST_F(Readings, NoFileIsKeptWithoutReadingsOrAfterANormalRunOrWhenSaved)
{
    // A normal run.
    start();
    run();
    EXPECT_TRUE(keptFiles().isEmpty());

    // A failure before any reading was removed.
    platform.messages.clear();
    start({"scan-never-completes"});
    window->GetReadings->click();
    ASSERT_EQ(platform.messages.size(), 1);
    EXPECT_FALSE(platform.messages[0].contains("saved")) << platform.messages[0].toStdString();
    EXPECT_TRUE(keptFiles().isEmpty());

    // A failure at the first reading: none was received.
    platform.messages.clear();
    start();
    readingFaults->failAt = 1;
    window->GetReadings->click();
    ASSERT_EQ(platform.messages.size(), 1);
    EXPECT_EQ(platform.messages[0].count('\n'), 0) << platform.messages[0].toStdString();
    EXPECT_TRUE(keptFiles().isEmpty());
}

TEST_F(Readings, AnErrorFoundAfterTheReadingsEndsEachBoxWithWhereTheyAre)
{
    start();
    QObject::connect(window.get(), &VISAComExample::lineAppended, [this](const QString &line) {
        if (line.startsWith(" 40\t")) {
            instrument->receive("SYSTem:NOSuchCommand");
            instrument->receive("SYSTem:NOSuchCommand");
        }
    });
    window->GetReadings->click();
    ASSERT_EQ(platform.messages.size(), 2) << platform.messages.join("\n---\n").toStdString();
    ASSERT_EQ(keptFiles().size(), 1);
    const QString line = "Readings 1 to 40 were saved to "
                         + QDir::toNativeSeparators(QDir(keptFolder()).filePath(keptFiles()[0]));
    for (const QString &message : platform.messages) {
        EXPECT_TRUE(message.endsWith("\"\n" + line)) << message.toStdString();
        EXPECT_EQ(message.count(line), 1) << "each box names the file once";
    }
}

TEST_F(Readings, AFailureToKeepTheReadingsIsAddedToTheMessage)
{
    // The data location cannot be made: a file stands where its folder would be.
    const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    ASSERT_FALSE(dataHome.isEmpty());
    const QString blocker = keptFolder();
    QDir().mkpath(QFileInfo(blocker).path());
    {
        QFile file(blocker);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    start();
    readingFaults->failAt = 25;
    window->GetReadings->click();
    QFile::remove(blocker);

    ASSERT_EQ(platform.messages.size(), 1);
    const QStringList parts = platform.messages[0].split('\n');
    ASSERT_EQ(parts.size(), 2);
    EXPECT_EQ(parts[0], "ReadList (reply to \"DATA:REMove? 1\") on GPIB0::9::INSTR failed: time-out");
    EXPECT_TRUE(parts[1].startsWith("Readings 1 to 24 could not be saved to ")) << parts[1].toStdString();
}

/// Files of at most @p bytes can be written while it lives: a full disk, as the kernel reports it.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

TEST_F(Readings, ASaveThatFailsKeepsTheOldFileAndSaysWhy)
{
    start();
    run();
    saveAs = folder.filePath("old.csv");
    {
        QFile old(saveAs);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("the old file\n");
    }
    {
        const FileSizeLimit full(600);
        listMenuEntry("Save Readings...")->trigger();
    }
    ASSERT_EQ(platform.messages.size(), 1);
    EXPECT_TRUE(
        platform.messages[0].startsWith("The readings could not be saved to " + QDir::toNativeSeparators(saveAs)))
        << platform.messages[0].toStdString();
    EXPECT_TRUE(platform.messages[0].contains("File too large")) << platform.messages[0].toStdString();
    EXPECT_FALSE(window->ended());
    QFile old(saveAs);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), "the old file\n");
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{"old.csv"}) << "no temporary file is left";

    // With room again, the same save goes through.
    listMenuEntry("Save Readings...")->trigger();
    EXPECT_EQ(platform.messages.size(), 1);
    EXPECT_EQ(readCsv(saveAs).size(), 44);
}

TEST_F(Readings, AnOutputFileThatFillsUpHoldsOnlyWholeRecordsAndTheRunGoesOn)
{
    start();
    const QString output = folder.filePath("r.csv");
    window->setOutputFile(output);
    {
        const FileSizeLimit full(1500);
        window->GetReadings->click();
    }
    EXPECT_FALSE(window->ended());
    EXPECT_EQ(window->readingsListed(), 40);
    const QList<QStringList> records = readCsv(output);
    ASSERT_GT(records.size(), 4);
    ASSERT_LT(records.size(), 44);
    for (qsizetype i = 3; i < records.size(); ++i)
        EXPECT_EQ(records[i].size(), 6) << records[i].join(',').toStdString();
    const int written = int(records.size()) - 4;
    ASSERT_EQ(platform.messages.size(), 1);
    EXPECT_EQ(platform.messages[0], QString("The readings could not be written to %1: File too large. "
                                            "Readings 1 to %2 of 40 are in it.")
                                        .arg(QDir::toNativeSeparators(output))
                                        .arg(written));
    EXPECT_TRUE(keptFiles().isEmpty()) << "the run went well: the readings are still in the window";
}

TEST_F(Readings, AnOutputFileThatCannotBeOpenedIsReportedAfterTheRun)
{
    start();
    const QString output = folder.filePath("missing/r.csv");
    window->setOutputFile(output);
    window->GetReadings->click();
    EXPECT_FALSE(window->ended());
    EXPECT_EQ(window->readingsListed(), 40);
    ASSERT_EQ(platform.messages.size(), 1);
    EXPECT_EQ(platform.messages[0], "The readings could not be written to " + QDir::toNativeSeparators(output)
                                        + ": No such file or directory.");
    EXPECT_TRUE(keptFiles().isEmpty());
}

struct Refused
{
    const char *name;
    enum { Fifo, Folder, LinkToFifo } kind;
};

class RefusedTarget : public Readings, public ::testing::WithParamInterface<Refused>
{
};

TEST_P(RefusedTarget, IsNeverReplaced)
{
    start();
    run();
    const QString fifo = folder.filePath("fifo");
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0) << std::strerror(errno);
    const QString dir = folder.filePath("dir");
    ASSERT_TRUE(QDir().mkdir(dir));
    const QString link = folder.filePath("link");
    ASSERT_TRUE(QFile::link(fifo, link));
    saveAs = GetParam().kind == Refused::Fifo ? fifo : GetParam().kind == Refused::Folder ? dir : link;

    // Through "Save Readings..." and "Save Chart..." alike.
    listMenuEntry("Save Readings...")->trigger();
    window->showReadings();
    ASSERT_NE(window->readingsWindow(), nullptr);
    window->readingsWindow()->saveChartButton()->click();

    ASSERT_EQ(platform.messages.size(), 2);
    EXPECT_TRUE(platform.messages[0].startsWith("The readings could not be saved to " + saveAs + ":\nit is "))
        << platform.messages[0].toStdString();
    EXPECT_TRUE(platform.messages[1].startsWith("The chart could not be saved to " + saveAs + ":\nit is "))
        << platform.messages[1].toStdString();
    struct stat info = {};
    ASSERT_EQ(stat(fifo.toLocal8Bit().constData(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_TRUE(QDir(dir).isEmpty());
    EXPECT_FALSE(window->ended());
}

INSTANTIATE_TEST_SUITE_P(Targets, RefusedTarget,
                         ::testing::Values(Refused{"Fifo", Refused::Fifo}, Refused{"Folder", Refused::Folder},
                                           Refused{"LinkToFifo", Refused::LinkToFifo}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(Readings, SaveChartWritesPngOrSvg)
{
    start();
    run();
    window->showReadings();
    ReadingsWindow *shown = window->readingsWindow();
    ASSERT_NE(shown, nullptr);
    for (const char *name : {"chart.png", "chart.svg"}) {
        SCOPED_TRACE(name);
        const QString path = folder.filePath(name);
        platform.answerSaveFileName = [&path](const QString &) { return path; };
        shown->saveChartButton()->click();
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        if (QString(name).endsWith(".png")) {
            const QImage image = QImage::fromData(bytes, "PNG");
            EXPECT_FALSE(image.isNull());
            EXPECT_GT(image.width(), 100);
        } else {
            EXPECT_TRUE(bytes.contains("<svg")) << bytes.left(200).toStdString();
            EXPECT_TRUE(bytes.contains("Channel")) << "the axis title is drawn";
        }
    }
    EXPECT_EQ(platform.fileQuestions, (QStringList{"Save Chart", "Save Chart"}));
    EXPECT_TRUE(platform.messages.isEmpty()) << platform.messages.join("\n").toStdString();
}

// --- Batch mode --------------------------------------------------------------------------------

TEST(BatchProgressText, SaysHowManyAndHowLong)
{
    EXPECT_EQ(BatchProgress::text(12, 40, 6.7, 15.0), "stored 12 of 40 readings, 6 s of about 15 s");
    EXPECT_EQ(BatchProgress::text(0, 40, 0, 15.4), "stored 0 of 40 readings, 0 s of about 15 s");
    EXPECT_EQ(BatchProgress::text(40, 40, 15.9, 15.0), "stored 40 of 40 readings, 15 s of about 15 s");
}

class BatchReadings : public Readings
{
protected:
    /// Batch mode in-process; @p out receives the listed lines, @p progress the progress line.
    int runBatchWith(std::FILE *out, std::FILE *progress, const QString &output = {})
    {
        std::unique_ptr<std::FILE, int (*)(std::FILE *)> err(std::tmpfile(), &std::fclose);
        batchPlatform = std::make_unique<BatchPlatform>(err.get());
        instrument = std::make_shared<sim::Qv3310>(clock, sim::Faults::parse({}));
        backend = std::make_shared<RecordingBackend>(std::make_shared<sim::SimulatedBackend>(instrument));
        readingFaults = std::make_shared<ReadingFaults>(backend);
        readingFaults->failAt = failAt;
        window = std::make_unique<VISAComExample>(readingFaults, *batchPlatform);
        if (!output.isEmpty())
            window->setOutputFile(output);
        const int status = runBatch(*window, *batchPlatform, out, progress);
        std::rewind(err.get());
        char buffer[8192];
        const size_t n = std::fread(buffer, 1, sizeof buffer, err.get());
        errors = QString::fromUtf8(buffer, qsizetype(n));
        return status;
    }

    static QString readAll(std::FILE *file) { return writtenTo(file); }

    std::unique_ptr<BatchPlatform> batchPlatform;
    QString errors;
    int failAt = 0;
};

TEST_F(BatchReadings, AProgressLineOnATerminalOnly)
{
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0) << std::strerror(errno);
    fcntl(master, F_SETFL, O_NONBLOCK);
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> terminal(fdopen(slave, "w"), &std::fclose);
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> out(std::tmpfile(), &std::fclose);
    ASSERT_EQ(runBatchWith(out.get(), terminal.get()), kBatchReadingsListed);
    std::fflush(terminal.get());
    QByteArray shown;
    char buffer[4096];
    ssize_t n;
    while ((n = read(master, buffer, sizeof buffer)) > 0)
        shown.append(buffer, n);
    close(master);

    EXPECT_TRUE(shown.startsWith("\rstored 0 of 40 readings, 0 s of about 15 s\x1b[K")) << shown.left(80).toStdString();
    EXPECT_EQ(shown.count('\n'), 0) << "one line, rewritten in place";
    EXPECT_TRUE(shown.contains("\rstored 20 of 40 readings, ")) << shown.toStdString();
    // Batch mode's clock is the real one; the simulated scan took no real time.
    EXPECT_TRUE(QRegularExpression("\rstored 40 of 40 readings, \\d+ s of about 15 s\x1b\\[K\r\x1b\\[K$")
                    .match(QString::fromLatin1(shown))
                    .hasMatch())
        << shown.right(80).toStdString();
    // The listed lines stay on standard output, untouched.
    EXPECT_FALSE(readAll(out.get()).contains("stored"));
    EXPECT_TRUE(errors.isEmpty()) << errors.toStdString();

    // Not a terminal: nothing at all.
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> log(std::tmpfile(), &std::fclose);
    ASSERT_EQ(runBatchWith(out.get(), log.get()), kBatchReadingsListed);
    EXPECT_EQ(readAll(log.get()), "");
}

TEST_F(BatchReadings, AFailureAtReading25LeavesReadings1To24BehindWithOrWithoutOutput)
{
    failAt = 25;
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> out(std::tmpfile(), &std::fclose);
    const QString output = folder.filePath("batch.csv");
    EXPECT_EQ(runBatchWith(out.get(), nullptr, output), kBatchFailed);
    EXPECT_EQ(errors, "ReadList (reply to \"DATA:REMove? 1\") on GPIB0::9::INSTR failed: time-out\n");
    EXPECT_EQ(readCsv(output).size(), 4 + 24);
    const QStringList listedLines = readAll(out.get()).split('\n');
    ASSERT_GE(listedLines.size(), 2);
    EXPECT_TRUE(listedLines[listedLines.size() - 2].startsWith(" 24\t104\t")) << listedLines.join('|').toStdString();
    EXPECT_TRUE(keptFiles().isEmpty());

    // Without an output file they are kept, and the message ends by saying where.
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> out2(std::tmpfile(), &std::fclose);
    EXPECT_EQ(runBatchWith(out2.get(), nullptr), kBatchFailed);
    ASSERT_EQ(keptFiles().size(), 1);
    const QString kept = QDir(keptFolder()).filePath(keptFiles()[0]);
    EXPECT_EQ(errors, "ReadList (reply to \"DATA:REMove? 1\") on GPIB0::9::INSTR failed: time-out\nReadings 1 to 24 "
                      "were saved to "
                          + kept + "\n");
    EXPECT_EQ(readCsv(kept).size(), 4 + 24);
}

TEST_F(BatchReadings, AFailedWriteToStandardOutputExitsOne)
{
    std::signal(SIGPIPE, SIG_IGN);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> closedPipe(fdopen(ends[1], "w"), &std::fclose);
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> fullDisk(std::fopen("/dev/full", "w"), &std::fclose);
    ASSERT_TRUE(fullDisk);
    const std::pair<std::FILE *, const char *> cases[] = {{closedPipe.get(), "Broken pipe"},
                                                          {fullDisk.get(), "No space left on device"}};
    for (const auto &[out, reason] : cases) {
        SCOPED_TRACE(reason);
        QDir(keptFolder()).removeRecursively();
        EXPECT_EQ(runBatchWith(out, nullptr), kBatchFailed);
        const QStringList lines = errors.split('\n');
        ASSERT_EQ(lines.size(), 3) << errors.toStdString();
        EXPECT_EQ(lines[0], QString("qvscan: the listed lines could not be written to standard output: ") + reason);
        // The readings that could not be listed are kept.
        ASSERT_EQ(keptFiles().size(), 1);
        EXPECT_EQ(lines[1], "Readings 1 to 40 were saved to " + QDir(keptFolder()).filePath(keptFiles()[0]));
    }
}

#ifdef QVSCAN_PATH
TEST(OutputOption, RefusesATargetThatIsNoRegularFile)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    for (const QString &target : {dir.path(), fifo}) {
        SCOPED_TRACE(target.toStdString());
        QProcess qvscan;
        qvscan.start(QVSCAN_PATH, {"--simulate", "--batch", "--output", target});
        ASSERT_TRUE(qvscan.waitForFinished(20000));
        EXPECT_EQ(qvscan.exitCode(), 2);
        const QString err = QString::fromUtf8(qvscan.readAllStandardError());
        EXPECT_TRUE(err.startsWith("--output: " + target + ": it is ")) << err.toStdString();
        EXPECT_TRUE(qvscan.readAllStandardOutput().isEmpty());
    }
}
#endif

} // namespace
