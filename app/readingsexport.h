#pragma once

#include <QString>
#include <QStringList>

#include "app/readingsmodel.h"

/// The readings as the operator takes them out of the program: as a CSV file for a
/// spreadsheet, or as TAB-separated text on the clipboard.
namespace readingsexport {

/// True for a listed reading: a blank, the reading number, a TAB, then the other columns.
bool isReadingLine(const QString &line);

/// True when @p text is a decimal number as SCPI writes one (NR1, NR2, NR3): "+2.29713391E+01".
bool isNumber(const QString &text);

/// @p field as one CSV field. Quoted, with its quotes doubled, when it holds a comma, a double
/// quote, a TAB, a CR or an LF (RFC 4180, and no TAB-splitting reader shifts a column). A text
/// that a spreadsheet would run as a formula (one beginning with "=", "+", "-", "@", TAB or CR
/// that is no number) gets a leading apostrophe, so that it stays text.
QString csvField(const QString &field);

/// @p field as one clipboard cell: TABs and line breaks become blanks, so no column shifts, and
/// a formula is kept text as in csvField.
QString clipboardField(const QString &field);

/// A file name for readings started at @p start that sorts by the scan's start:
/// "readings-2026-12-10-101112.csv".
QString suggestedFileName(const ReadingsModel::Start &start);

/// The head of a file: the start date, start time and instrument, then the column names.
/// Every record ends with CR LF.
QString csvHead(const ReadingsModel::Start &start);

/// One reading as a record: the number and channel, the function, the value as sent (without
/// a unit suffix; "overload" for the overload value), the unit, and the time stamp as sent.
QString csvRecord(const Reading &reading);

/// The text that opens a file: a byte-order mark, so that spreadsheets read the "°" of "°C" as UTF-8.
inline constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

} // namespace readingsexport
