#include "app/readingsexport.h"

#include <QCoreApplication>
#include <QRegularExpression>

namespace readingsexport {

namespace {

QString joinRecord(const QStringList &fields)
{
    QStringList quoted;
    quoted.reserve(fields.size());
    for (const QString &field : fields)
        quoted.append(csvField(field));
    // RFC 4180 ends every record, the last one too, with CR LF.
    return quoted.join(QLatin1Char(',')) + QLatin1String("\r\n");
}

/// A spreadsheet runs a cell that begins so as a formula, unless it is a number.
bool runsAsFormula(const QString &field)
{
    static const QRegularExpression formulaStart(QStringLiteral("^[=+\\-@\\t\\r]"));
    return field.contains(formulaStart) && !isNumber(field);
}

} // namespace

bool isReadingLine(const QString &line)
{
    static const QRegularExpression reading(QStringLiteral("^ \\d+\\t"));
    return reading.match(line).hasMatch();
}

bool isNumber(const QString &text)
{
    static const QRegularExpression number(QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"));
    return number.match(text).hasMatch();
}

QString csvField(const QString &field)
{
    static const QRegularExpression needsQuotes(QStringLiteral("[,\"\\t\\r\\n]"));
    QString text = runsAsFormula(field) ? QLatin1Char('\'') + field : field;
    if (!text.contains(needsQuotes))
        return text;
    text.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString clipboardField(const QString &field)
{
    static const QRegularExpression separators(QStringLiteral("[\\t\\r\\n]"));
    QString text = runsAsFormula(field) ? QLatin1Char('\'') + field : field;
    return text.replace(separators, QStringLiteral(" "));
}

QString suggestedFileName(const ReadingsModel::Start &start)
{
    // Only digits reach the name: the instrument's answer must not add separators to the path.
    static const QRegularExpression notDigit(QStringLiteral("\\D"));
    QString name = QCoreApplication::translate("readingsexport", "readings");
    QStringList stamp;
    for (QString part : start.date.split(QLatin1Char(',')))
        if (!part.remove(notDigit).isEmpty())
            stamp.append(part);
    // Whole seconds are enough to tell runs apart.
    const QString time = QString(start.time).section(QLatin1Char('.'), 0, 0).remove(notDigit);
    if (!time.isEmpty())
        stamp.append(time);
    if (!stamp.isEmpty())
        name += QLatin1Char('-') + stamp.join(QLatin1Char('-'));
    return name + QLatin1String(".csv");
}

QString csvHead(const ReadingsModel::Start &start)
{
    QString text;
    text += joinRecord({QCoreApplication::translate("readingsexport", "Start Date (yyyy,mm,dd)"), start.date});
    text += joinRecord({QCoreApplication::translate("readingsexport", "Start Time (hh,mm,ss.sss)"), start.time});
    text += joinRecord({QCoreApplication::translate("readingsexport", "Instrument ID"), start.instrumentId});
    QStringList columns;
    for (int column = 0; column < ReadingsModel::ColumnCount; ++column)
        columns.append(ReadingsModel::columnName(column));
    text += joinRecord(columns);
    return text;
}

QString csvRecord(const Reading &reading)
{
    QString value = reading.valueText;
    if (reading.value.kind == ReadingValue::Number)
        value = reading.value.numberText;
    else if (reading.value.kind == ReadingValue::Overload)
        value = reading.valueDisplay();
    return joinRecord({QString::number(reading.number), reading.channelText, reading.function.name, value,
                       reading.unit(), reading.seconds ? reading.timeText.trimmed() : reading.timeText});
}

} // namespace readingsexport
