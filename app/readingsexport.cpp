#include "app/readingsexport.h"

#include <QCoreApplication>
#include <QRegularExpression>

namespace readingsexport {

namespace {

QString csvRecord(const QStringList &fields)
{
    QStringList quoted;
    quoted.reserve(fields.size());
    for (const QString &field : fields)
        quoted.append(csvField(field));
    // RFC 4180 ends every record, the last one too, with CR LF.
    return quoted.join(QLatin1Char(',')) + QLatin1String("\r\n");
}

} // namespace

bool isReadingLine(const QString &line)
{
    static const QRegularExpression reading(QStringLiteral("^ \\d+\\t"));
    return reading.match(line).hasMatch();
}

QStringList readingFields(const QString &line)
{
    QStringList fields = line.split(QLatin1Char('\t'));
    // The blank is the list's sign column for positive numbers; a spreadsheet wants the number.
    if (fields.first().startsWith(QLatin1Char(' ')))
        fields.first().remove(0, 1);
    return fields;
}

QString csvField(const QString &field)
{
    static const QRegularExpression needsQuotes(QStringLiteral("[,\"\\r\\n]"));
    if (!field.contains(needsQuotes))
        return field;
    QString quoted = field;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString suggestedFileName(const Sheet &sheet)
{
    // Only digits reach the name: the instrument's answer must not add separators to the path.
    static const QRegularExpression notDigit(QStringLiteral("\\D"));
    QString name = QCoreApplication::translate("readingsexport", "readings");
    QStringList stamp;
    for (QString part : sheet.startDate.split(QLatin1Char(',')))
        if (!part.remove(notDigit).isEmpty())
            stamp.append(part);
    // Whole seconds are enough to tell runs apart.
    const QString time = QString(sheet.startTime).section(QLatin1Char('.'), 0, 0).remove(notDigit);
    if (!time.isEmpty())
        stamp.append(time);
    if (!stamp.isEmpty())
        name += QLatin1Char('-') + stamp.join(QLatin1Char('-'));
    return name + QLatin1String(".csv");
}

QString csvText(const Sheet &sheet)
{
    QString text;
    text += csvRecord({QCoreApplication::translate("readingsexport", "Start Date (yyyy,mm,dd)"), sheet.startDate});
    text += csvRecord({QCoreApplication::translate("readingsexport", "Start Time (hh,mm,ss.sss)"), sheet.startTime});
    text += csvRecord({QCoreApplication::translate("readingsexport", "Instrument ID"), sheet.instrumentId});
    text += csvRecord({QCoreApplication::translate("readingsexport", "Reading"),
                       QCoreApplication::translate("readingsexport", "Channel"),
                       QCoreApplication::translate("readingsexport", "Value"),
                       QCoreApplication::translate("readingsexport", "Time")});
    for (const QStringList &reading : sheet.readings)
        text += csvRecord(reading);
    return text;
}

} // namespace readingsexport
