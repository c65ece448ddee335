#include "app/readingswindow.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSplitter>
#include <QStandardPaths>
#include <QTableView>
#include <QVBoxLayout>

#include <map>
#include <set>

#include "app/csvwriter.h"
#include "app/platform.h"
#include "app/readingschart.h"
#include "app/readingsexport.h"
#include "app/readingsmodel.h"

bool ReadingsSortModel::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    const QVariant a = left.data(ReadingsModel::kSortRole);
    const QVariant b = right.data(ReadingsModel::kSortRole);
    const bool aNumber = a.typeId() == QMetaType::Double;
    const bool bNumber = b.typeId() == QMetaType::Double;
    if (aNumber && bNumber)
        return a.toDouble() < b.toDouble();
    if (aNumber != bNumber)
        return aNumber;
    return QString::localeAwareCompare(a.toString(), b.toString()) < 0;
}

ReadingsWindow::ReadingsWindow(ReadingsModel &model, Platform &platform, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_model(model)
    , m_platform(platform)
{
    setWindowTitle(tr("Readings"));

    m_heading = new QLabel(this);
    // The identification is the instrument's text, never markup.
    m_heading->setTextFormat(Qt::PlainText);
    m_heading->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_sorted = new ReadingsSortModel(this);
    m_sorted->setSourceModel(&m_model);
    m_table = new QTableView(this);
    m_table->setModel(m_sorted);
    m_table->setSortingEnabled(true);
    m_table->sortByColumn(ReadingsModel::ReadingColumn, Qt::AscendingOrder);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_table->setWordWrap(false);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setContextMenuPolicy(Qt::ActionsContextMenu);

    m_copy = new QAction(tr("Copy"), m_table);
    m_copy->setShortcut(QKeySequence::Copy);
    m_copy->setShortcutContext(Qt::WidgetShortcut);
    m_table->addAction(m_copy);
    connect(m_copy, &QAction::triggered, this, &ReadingsWindow::copySelection);

    m_chart = new ReadingsChart(m_model, this);
    m_chart->setMinimumSize(360, 280);

    auto *splitter = new QSplitter(Qt::Horizontal, this);
    splitter->addWidget(m_table);
    splitter->addWidget(m_chart);
    splitter->setStretchFactor(1, 1);

    m_saveChart = new QPushButton(tr("Save Chart..."), this);
    connect(m_saveChart, &QPushButton::clicked, this, &ReadingsWindow::saveChart);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_saveChart);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_heading);
    layout->addWidget(splitter, 1);
    layout->addLayout(buttons);

    connect(&m_model, &QAbstractItemModel::modelReset, this, &ReadingsWindow::updateHeading);
    updateHeading();
    resize(1180, 600);
    splitter->setSizes({620, 560});
}

void ReadingsWindow::updateHeading()
{
    const ReadingsModel::Start &start = m_model.start();
    m_heading->setText(tr("Start Date (yyyy,mm,dd): %1    Start Time (hh,mm,ss.sss): %2\nInstrument: %3")
                           .arg(start.date, start.time, start.instrumentId));
}

QString ReadingsWindow::selectionText() const
{
    const QModelIndexList selected = m_table->selectionModel()->selectedIndexes();
    std::set<int> columns;
    std::map<int, std::set<int>> cells; // row shown -> columns selected in it
    for (const QModelIndex &index : selected) {
        columns.insert(index.column());
        cells[index.row()].insert(index.column());
    }
    if (selected.isEmpty()) {
        for (int column = 0; column < m_sorted->columnCount(); ++column)
            columns.insert(column);
        for (int row = 0; row < m_sorted->rowCount(); ++row)
            cells[row] = columns;
    }
    // Every line has a field for every column copied, empty where a cell is not selected,
    // so the header lines up with the data.
    QStringList lines;
    QStringList header;
    for (int column : columns)
        header.append(readingsexport::clipboardField(ReadingsModel::columnName(column)));
    lines.append(header.join(QLatin1Char('\t')));
    for (const auto &[row, rowColumns] : cells) {
        QStringList fields;
        for (int column : columns)
            fields.append(rowColumns.count(column)
                              ? readingsexport::clipboardField(m_sorted->index(row, column).data().toString())
                              : QString());
        lines.append(fields.join(QLatin1Char('\t')));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void ReadingsWindow::copySelection()
{
    if (m_model.rowCount() == 0)
        return;
    QGuiApplication::clipboard()->setText(selectionText());
}

void ReadingsWindow::setRunning(bool running)
{
    m_running = running;
    m_saveChart->setEnabled(!running);
}

void ReadingsWindow::saveChart()
{
    if (m_running)
        return;
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    QString name = readingsexport::suggestedFileName(m_model.start());
    name.replace(QLatin1String(".csv"), QLatin1String(".png"));
    const QString fileName = m_platform.askSaveFileName(this, tr("Save Chart"), QDir(folder).filePath(name),
                                                        tr("PNG images (*.png);;SVG images (*.svg)"));
    if (fileName.isEmpty())
        return;
    const bool svg = fileName.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive);
    QString error;
    if (!safefile::saveBytes(fileName, m_chart->image(svg), &error))
        emit failed(tr("The chart could not be saved to %1:\n%2").arg(QDir::toNativeSeparators(fileName), error));
}
