#pragma once

#include <optional>
#include <set>

#include <QAbstractTableModel>
#include <QList>
#include <QString>

/// @brief What one reading record's value field holds.
struct ReadingValue
{
    enum Kind {
        Number, ///< a decimal number (NR1, NR2 or NR3), optionally followed by a unit
        Overload, ///< the instrument's overload value, 9.9E37 of either sign
        Text, ///< anything else: shown as sent, never plotted
    };

    Kind kind = Text;
    double number = 0; ///< the value for Number; plus or minus infinity for Overload
    QString numberText; ///< the number as sent, without blanks or unit
    QString unitSuffix; ///< the unit the instrument sent after the number, as sent ("C", "VDC"), or empty

    /// Reads @p field, the first field of a reading record. Never fails: what does not read as
    /// a number is Text.
    static ReadingValue parse(const QString &field);
};

/// What a channel measures in the run's fixed configuration.
struct ChannelFunction
{
    enum Quantity { None, Temperature, Voltage };

    Quantity quantity = None;
    QString name; ///< "Temperature (J thermocouple)", "DC voltage (10 V range)", or empty
    QString unit; ///< "°C", "V", or empty

    /// 101 to 110 are J thermocouples in degrees Celsius, 111 to 120 DC voltages on the 10 V
    /// range: what Setup configures. Any other channel measures nothing known.
    static ChannelFunction of(int channel);
};

/// @brief One reading of a run, as received and as understood.
struct Reading
{
    int number = 0; ///< 1 for the first reading removed
    QString channelText; ///< the channel field as listed
    QString valueText; ///< the value field as received
    QString timeText; ///< the time-stamp field as received
    std::optional<int> channel; ///< the channel number, when the field is one
    ReadingValue value;
    std::optional<double> seconds; ///< the time stamp, when the field is a number
    int pass = 1; ///< which pass of the scan list took it: a channel taken again starts a new pass
    ChannelFunction function;

    /// The unit shown: the one the instrument sent with the value, else the configured one.
    QString unit() const;
    /// True when the value belongs on the chart's axis for its configured quantity.
    bool plottable() const;
    /// The value as the table shows it: the number, "overload", or the text received.
    QString valueDisplay() const;
    /// The time stamp as the table shows it.
    QString timeDisplay() const;
};

/// @brief The readings of the last run: one row per reading, in the order removed.
///
/// Qt::DisplayRole holds the text shown; kSortRole holds what sorting compares (numbers as
/// numbers, texts after them).
class ReadingsModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { ReadingColumn, ChannelColumn, FunctionColumn, ValueColumn, UnitColumn, TimeColumn, ColumnCount };
    static constexpr int kSortRole = Qt::UserRole;

    /// Where the readings come from, as listed above them.
    struct Start
    {
        QString date; ///< "yyyy,mm,dd"
        QString time; ///< "hh,mm,ss.sss"
        QString instrumentId; ///< the identification reply last listed
    };

    using QAbstractTableModel::QAbstractTableModel;

    /// Forgets every reading: a new scan has started.
    void begin(const Start &start);
    /// Appends the reading whose record gave these fields; returns it.
    const Reading &append(int number, const QString &channel, const QString &value, const QString &time);

    const Start &start() const { return m_start; }
    const QList<Reading> &readings() const { return m_readings; }
    const Reading &reading(int row) const { return m_readings.at(row); }

    /// The caption of @p column, as the table and the files head it.
    static QString columnName(int column);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

signals:
    /// A new scan's readings begin; the old ones are gone.
    void started();

private:
    Start m_start;
    QList<Reading> m_readings;
    std::set<QString> m_channelsThisPass;
};
