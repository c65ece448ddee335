#include "app/readingschart.h"

#include <QBuffer>
#include <QCursor>
#include <QPainter>
#include <QSvgGenerator>
#include <QToolTip>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <cmath>
#include <map>

#include "app/readingsmodel.h"

namespace {

/// One colour per pass; temperatures and voltages of a pass share it.
QColor passColour(int pass)
{
    static const QColor colours[] = {QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28), QColor(0x2c, 0xa0, 0x2c),
                                     QColor(0x94, 0x67, 0xbd), QColor(0xff, 0x7f, 0x0e), QColor(0x8c, 0x56, 0x4b)};
    return colours[(pass - 1) % std::size(colours)];
}

/// A range that shows every value with a little room, and a usable one for a single value.
void fit(QValueAxis *axis, double low, double high)
{
    if (!(low <= high)) {
        axis->setRange(0, 1);
        return;
    }
    const double span = high - low;
    const double margin = span > 0 ? span * 0.08 : std::max(std::abs(low) * 0.05, 0.5);
    axis->setRange(low - margin, high + margin);
    axis->applyNiceNumbers();
}

} // namespace

ReadingsChart::ReadingsChart(const ReadingsModel &model, QWidget *parent)
    : QChartView(new QChart, parent) // a default view's own chart would lose its owner to setChart()
    , m_model(model)
{
    setRenderHint(QPainter::Antialiasing);
    QChart *chart = this->chart();
    chart->legend()->setAlignment(Qt::AlignBottom);

    m_channelAxis = new QValueAxis;
    m_channelAxis->setTitleText(tr("Channel"));
    m_channelAxis->setLabelFormat(QStringLiteral("%d"));
    m_channelAxis->setTickType(QValueAxis::TicksDynamic);
    m_channelAxis->setTickAnchor(101);
    // Every other channel: twenty labels would not fit beside each other.
    m_channelAxis->setTickInterval(2);
    m_channelAxis->setMinorTickCount(0);
    m_temperatureAxis = new QValueAxis;
    m_temperatureAxis->setTitleText(tr("Temperature (°C)"));
    m_voltageAxis = new QValueAxis;
    m_voltageAxis->setTitleText(tr("DC voltage (V)"));
    chart->addAxis(m_channelAxis, Qt::AlignBottom);
    chart->addAxis(m_temperatureAxis, Qt::AlignLeft);
    chart->addAxis(m_voltageAxis, Qt::AlignRight);

    connect(&m_model, &QAbstractItemModel::modelReset, this, &ReadingsChart::rebuild);
    connect(&m_model, &QAbstractItemModel::rowsInserted, this, &ReadingsChart::rebuild);
    rebuild();
}

QList<QXYSeries *> ReadingsChart::series() const
{
    return m_series;
}

int ReadingsChart::rowOf(const QXYSeries *series, int index) const
{
    const QList<int> rows = m_rows.value(series);
    return index >= 0 && index < rows.size() ? rows[index] : -1;
}

QString ReadingsChart::toolTipFor(const QXYSeries *series, int index) const
{
    const int row = rowOf(series, index);
    if (row < 0)
        return {};
    QStringList lines;
    for (int column = 0; column < ReadingsModel::ColumnCount; ++column)
        lines.append(ReadingsModel::columnName(column) + QStringLiteral(": ")
                     + m_model.data(m_model.index(row, column)).toString());
    return lines.join(QLatin1Char('\n'));
}

void ReadingsChart::rebuild()
{
    // Forty points at most: drawing them afresh is cheaper than keeping series in step.
    QChart *chart = this->chart();
    chart->removeAllSeries();
    m_series.clear();
    m_rows.clear();

    // (pass, quantity) -> series; std::map keeps the legend in pass order.
    std::map<std::pair<int, int>, QLineSeries *> lines;
    double lowT = HUGE_VAL, highT = -HUGE_VAL, lowV = HUGE_VAL, highV = -HUGE_VAL;
    double lowC = HUGE_VAL, highC = -HUGE_VAL;
    for (int row = 0; row < m_model.rowCount(); ++row) {
        const Reading &r = m_model.reading(row);
        if (!r.plottable() || !r.channel)
            continue;
        const bool temperature = r.function.quantity == ChannelFunction::Temperature;
        QLineSeries *&series = lines[{r.pass, temperature ? 0 : 1}];
        if (!series) {
            series = new QLineSeries;
            series->setName(temperature ? tr("Pass %1, °C").arg(r.pass) : tr("Pass %1, V").arg(r.pass));
            QPen pen(passColour(r.pass), 2, temperature ? Qt::SolidLine : Qt::DashLine);
            series->setPen(pen);
            series->setPointsVisible(true);
        }
        series->append(*r.channel, r.value.number);
        m_rows[series].append(row);
        (temperature ? lowT : lowV) = std::min(temperature ? lowT : lowV, r.value.number);
        (temperature ? highT : highV) = std::max(temperature ? highT : highV, r.value.number);
        lowC = std::min(lowC, double(*r.channel));
        highC = std::max(highC, double(*r.channel));
    }
    for (const auto &[key, series] : lines) {
        chart->addSeries(series);
        series->attachAxis(m_channelAxis);
        series->attachAxis(key.second == 0 ? m_temperatureAxis : m_voltageAxis);
        // An init-capture: clang before 16 cannot capture a structured binding itself.
        connect(series, &QXYSeries::hovered, this,
                [this, series = series](const QPointF &point, bool state) { hovered(series, point, state); });
        m_series.append(series);
    }
    if (lowC <= highC)
        m_channelAxis->setRange(lowC - 0.5, highC + 0.5);
    else
        m_channelAxis->setRange(100.5, 120.5);
    fit(m_temperatureAxis, lowT, highT);
    fit(m_voltageAxis, lowV, highV);
}

void ReadingsChart::hovered(const QXYSeries *series, const QPointF &point, bool state)
{
    if (!state) {
        QToolTip::hideText();
        return;
    }
    // The point nearest to the one hovered, measured on the screen.
    const QPointF at = chart()->mapToPosition(point, const_cast<QXYSeries *>(series));
    int nearest = -1;
    double best = HUGE_VAL;
    const QList<QPointF> points = series->points();
    for (int i = 0; i < points.size(); ++i) {
        const QPointF p = chart()->mapToPosition(points[i], const_cast<QXYSeries *>(series));
        const double distance = std::hypot(p.x() - at.x(), p.y() - at.y());
        if (distance < best) {
            best = distance;
            nearest = i;
        }
    }
    if (nearest >= 0)
        QToolTip::showText(QCursor::pos(), toolTipFor(series, nearest), this);
}

QByteArray ReadingsChart::image(bool svg)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    const QSize size = this->size().isEmpty() ? QSize(800, 500) : this->size();
    if (svg) {
        QSvgGenerator generator;
        generator.setOutputDevice(&buffer);
        generator.setSize(size);
        generator.setViewBox(QRect(QPoint(0, 0), size));
        generator.setTitle(tr("Readings"));
        QPainter painter(&generator);
        render(&painter, QRectF(QPoint(0, 0), size), QRect(QPoint(0, 0), size));
    } else {
        QImage picture(size, QImage::Format_ARGB32);
        picture.fill(Qt::white);
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        render(&painter, QRectF(QPoint(0, 0), size), QRect(QPoint(0, 0), size));
        painter.end();
        picture.save(&buffer, "PNG");
    }
    return bytes;
}
