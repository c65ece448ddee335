#pragma once

#include <QHash>
#include <QList>
#include <QtCharts/QChartView>

class ReadingsModel;
class QValueAxis;
class QXYSeries;

/// @brief The readings of a run on a chart: temperatures on the left axis, voltages on the
/// right, against the channel, one line per pass of the scan list for each quantity.
///
/// Against the channel the passes lie on top of each other, so a change between passes shows
/// at a glance; the time of each reading is in the table and in the tooltip. Values that are
/// no number (an overload, a text) are left out.
class ReadingsChart : public QChartView
{
    Q_OBJECT

public:
    explicit ReadingsChart(const ReadingsModel &model, QWidget *parent = nullptr);

    /// The series drawn, in legend order: for each pass its temperatures, then its voltages.
    QList<QXYSeries *> series() const;
    /// The model row of point @p index of @p series.
    int rowOf(const QXYSeries *series, int index) const;
    /// The tooltip of point @p index of @p series: that reading's row of the table.
    QString toolTipFor(const QXYSeries *series, int index) const;

    QValueAxis *temperatureAxis() const { return m_temperatureAxis; }
    QValueAxis *voltageAxis() const { return m_voltageAxis; }

    /// The chart as a PNG or (for @p svg) SVG file's bytes, at the size shown.
    QByteArray image(bool svg);

private:
    void rebuild();
    void hovered(const QXYSeries *series, const QPointF &point, bool state);

    const ReadingsModel &m_model;
    QValueAxis *m_channelAxis = nullptr;
    QValueAxis *m_temperatureAxis = nullptr;
    QValueAxis *m_voltageAxis = nullptr;
    QHash<const QXYSeries *, QList<int>> m_rows;
    QList<QXYSeries *> m_series;
};
