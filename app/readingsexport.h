#pragma once

#include <QList>
#include <QString>
#include <QStringList>

/// The listed readings as the operator takes them out of the program: as a CSV file for a
/// spreadsheet, or as the list's own TAB-separated lines on the clipboard.
namespace readingsexport {

/// What a saved file holds.
struct Sheet
{
    QString startDate; ///< as listed, "yyyy,mm,dd"
    QString startTime; ///< as listed, "hh,mm,ss.sss"
    QString instrumentId; ///< the identification reply listed when the instrument was selected
    QList<QStringList> readings; ///< one row per reading: number, channel, value, time
};

/// True for a listed reading: a blank, the reading number, a TAB, then the other columns.
bool isReadingLine(const QString &line);

/// The columns of a reading line, with the number's leading blank dropped.
QStringList readingFields(const QString &line);

/// @p field as one CSV field: quoted, with its quotes doubled, when it holds a comma, a double
/// quote, a CR or an LF (RFC 4180); otherwise unchanged.
QString csvField(const QString &field);

/// A file name for @p sheet that sorts by the scan's start: "readings-2026-12-10-101112.csv".
QString suggestedFileName(const Sheet &sheet);

/// The whole file: the start date, start time and instrument, the column names, then one row
/// per reading; every record ends with CR LF.
QString csvText(const Sheet &sheet);

} // namespace readingsexport
