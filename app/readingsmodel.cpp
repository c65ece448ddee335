#include "app/readingsmodel.h"

#include <cmath>
#include <limits>

#include <QLocale>
#include <QRegularExpression>

#include "visa/numberparse.h"

namespace {

/// SCPI's value for a reading beyond the range: 9.9E37, negative for an overload below it.
constexpr double kOverload = 9.9e37;
/// SCPI's value for "not a number": no reading at all, so it stays text.
constexpr double kNotANumber = 9.91e37;

/// A number as a person reads it: the shortest text that gives the same value back.
QString shortest(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

/// The unit a unit suffix names, in the table's spelling.
QString unitOfSuffix(const QString &suffix)
{
    const QString upper = suffix.toUpper();
    if (upper == u"C" || upper == u"CEL")
        return QStringLiteral("°C");
    if (upper == u"F" || upper == u"FAR")
        return QStringLiteral("°F");
    if (upper == u"K")
        return QStringLiteral("K");
    if (upper == u"V" || upper == u"VDC")
        return QStringLiteral("V");
    return suffix;
}

} // namespace

ReadingValue ReadingValue::parse(const QString &field)
{
    ReadingValue value;
    const QString trimmed = field.trimmed();
    const QByteArray bytes = trimmed.toLatin1();
    size_t consumed = 0;
    const std::optional<double> number = trimmed.size() == bytes.size() && !trimmed.contains(QChar(u'\0'))
                                             ? visa::leadingNumber(
                                                 std::string_view(bytes.constData(), size_t(bytes.size())), &consumed)
                                             : std::nullopt;
    if (!number || !std::isfinite(*number) || std::abs(*number) == kNotANumber)
        return value;

    // After the number only a unit may follow, such as " C" or " VDC".
    static const QRegularExpression unitSuffix(QStringLiteral("^\\s*([A-Za-z]{1,8})$"));
    const QString rest = trimmed.mid(qsizetype(consumed));
    QString unit;
    if (!rest.isEmpty()) {
        const auto match = unitSuffix.match(rest);
        if (!match.hasMatch())
            return value;
        unit = match.captured(1);
    }
    value.numberText = trimmed.left(qsizetype(consumed));
    value.unitSuffix = unit;
    value.number = *number;
    value.kind = Number;
    if (std::abs(*number) == kOverload) {
        value.kind = Overload;
        value.number = std::copysign(std::numeric_limits<double>::infinity(), *number);
    }
    return value;
}

ChannelFunction ChannelFunction::of(int channel)
{
    if (channel >= 101 && channel <= 110)
        return {Temperature, QStringLiteral("Temperature (J thermocouple)"), QStringLiteral("°C")};
    if (channel >= 111 && channel <= 120)
        return {Voltage, QStringLiteral("DC voltage (10 V range)"), QStringLiteral("V")};
    return {};
}

QString Reading::unit() const
{
    return value.unitSuffix.isEmpty() ? function.unit : unitOfSuffix(value.unitSuffix);
}

bool Reading::plottable() const
{
    // A value in another unit than its axis's would be drawn at a wrong height.
    return value.kind == ReadingValue::Number && function.quantity != ChannelFunction::None && unit() == function.unit;
}

QString Reading::valueDisplay() const
{
    switch (value.kind) {
    case ReadingValue::Number: return shortest(value.number);
    case ReadingValue::Overload: return ReadingsModel::tr("overload");
    case ReadingValue::Text: break;
    }
    return valueText;
}

QString Reading::timeDisplay() const
{
    return seconds ? shortest(*seconds) : timeText;
}

void ReadingsModel::begin(const Start &start)
{
    beginResetModel();
    m_start = start;
    m_readings.clear();
    m_channelsThisPass.clear();
    endResetModel();
    emit started();
}

const Reading &ReadingsModel::append(int number, const QString &channel, const QString &value, const QString &time)
{
    Reading reading;
    reading.number = number;
    reading.channelText = channel;
    reading.valueText = value;
    reading.timeText = time;
    bool isNumber = false;
    const int channelNumber = channel.trimmed().toInt(&isNumber);
    if (isNumber)
        reading.channel = channelNumber;
    reading.value = ReadingValue::parse(value);
    const ReadingValue stamp = ReadingValue::parse(time);
    if (stamp.kind == ReadingValue::Number && stamp.unitSuffix.isEmpty())
        reading.seconds = stamp.number;
    reading.function = ChannelFunction::of(channelNumber);

    const int lastPass = m_readings.isEmpty() ? 1 : m_readings.back().pass;
    reading.pass = lastPass;
    if (!m_channelsThisPass.insert(channel).second) {
        reading.pass = lastPass + 1;
        m_channelsThisPass = {channel};
    }

    const int row = int(m_readings.size());
    beginInsertRows({}, row, row);
    m_readings.append(reading);
    endInsertRows();
    return m_readings.back();
}

QString ReadingsModel::columnName(int column)
{
    switch (column) {
    case ReadingColumn: return tr("Reading");
    case ChannelColumn: return tr("Channel");
    case FunctionColumn: return tr("Function");
    case ValueColumn: return tr("Value");
    case UnitColumn: return tr("Unit");
    case TimeColumn: return tr("Time (s)");
    default: return {};
    }
}

int ReadingsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_readings.size());
}

int ReadingsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ReadingsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_readings.size())
        return {};
    const Reading &r = m_readings.at(index.row());
    const auto number = [](std::optional<double> n, const QString &text) { return n ? QVariant(*n) : QVariant(text); };
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case ReadingColumn: return QString::number(r.number);
        case ChannelColumn: return r.channelText;
        case FunctionColumn: return r.function.name;
        case ValueColumn: return r.valueDisplay();
        case UnitColumn: return r.unit();
        case TimeColumn: return r.timeDisplay();
        }
        break;
    case kSortRole:
        switch (index.column()) {
        case ReadingColumn: return double(r.number);
        case ChannelColumn: return number(r.channel ? std::optional<double>(*r.channel) : std::nullopt, r.channelText);
        case FunctionColumn: return r.function.name;
        case ValueColumn: return r.value.kind == ReadingValue::Text ? QVariant(r.valueText) : QVariant(r.value.number);
        case UnitColumn: return r.unit();
        case TimeColumn: return number(r.seconds, r.timeText);
        }
        break;
    case Qt::ToolTipRole:
        // What the instrument sent, where the table shows it otherwise.
        if (index.column() == ValueColumn && r.valueDisplay() != r.valueText)
            return tr("Received: %1").arg(r.valueText.trimmed());
        if (index.column() == TimeColumn && r.timeDisplay() != r.timeText)
            return tr("Received: %1").arg(r.timeText.trimmed());
        break;
    case Qt::TextAlignmentRole:
        if (index.column() == FunctionColumn || index.column() == UnitColumn)
            return int(Qt::AlignLeft | Qt::AlignVCenter);
        return int(Qt::AlignRight | Qt::AlignVCenter);
    }
    return {};
}

QVariant ReadingsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return columnName(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}
