#pragma once

#include <QSortFilterProxyModel>
#include <QWidget>

class Platform;
class QAction;
class QLabel;
class QPushButton;
class QTableView;
class ReadingsChart;
class ReadingsModel;

/// @brief Sorts readings by what they are: numbers as numbers, texts after all numbers.
class ReadingsSortModel : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

protected:
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;
};

/// @brief The "Readings" window: the run's start and instrument, a sortable table of every
/// reading, and the chart.
class ReadingsWindow : public QWidget
{
    Q_OBJECT

public:
    /// Shows @p model, which outlives the window; @p platform asks where to save the chart.
    /// A Qt::Window of @p parent.
    ReadingsWindow(ReadingsModel &model, Platform &platform, QWidget *parent);
    QTableView *table() const { return m_table; }
    ReadingsChart *chart() const { return m_chart; }
    QLabel *heading() const { return m_heading; }
    QPushButton *saveChartButton() const { return m_saveChart; }

    /// The selected cells, or all when none is, as TAB-separated lines in the order shown,
    /// headed by the names of their columns.
    QString selectionText() const;
    /// Puts selectionText() on the clipboard.
    void copySelection();
    /// Asks for a file and saves the chart there, as SVG when its name ends in ".svg", else PNG.
    void saveChart();
    /// Nothing is saved while a run goes on.
    void setRunning(bool running);

signals:
    /// Saving failed; @p text says why. The main window shows it in its message box.
    void failed(const QString &text);

private:
    void updateHeading();

    ReadingsModel &m_model;
    Platform &m_platform;
    ReadingsSortModel *m_sorted = nullptr;
    QLabel *m_heading = nullptr;
    QTableView *m_table = nullptr;
    ReadingsChart *m_chart = nullptr;
    QPushButton *m_saveChart = nullptr;
    QAction *m_copy = nullptr;
    bool m_running = false;
};
