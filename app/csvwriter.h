#pragma once

#include <functional>

#include <QString>

#include "app/readingsmodel.h"

class QFileDevice;
class QIODevice;

/// @brief Writes readings as CSV to a file, one complete record at a time.
///
/// Every write and flush is checked. A record that does not reach the file whole is cut off
/// again, so the file never ends in half a record; after a failure nothing more is written.
/// "Save Readings...", --output and the readings kept after a failure all write through it.
class CsvWriter
{
public:
    /// Writes to @p file, which is open for writing and outlives the writer.
    explicit CsvWriter(QFileDevice &file);

    /// The byte-order mark and the head: start, instrument and column names.
    bool writeHead(const ReadingsModel::Start &start);
    bool writeReading(const Reading &reading);

    bool failed() const { return !m_error.isEmpty(); }
    /// Why the last write failed.
    QString errorString() const { return m_error; }
    /// Readings that are in the file.
    int readingsWritten() const { return m_readings; }

private:
    bool write(const QByteArray &bytes);

    QFileDevice &m_file;
    QString m_error;
    int m_readings = 0;
};

/// Writes all of @p bytes to @p device, again after a short write, so that the reason of a
/// failure is the system's. False with the reason in @p error.
bool writeAll(QIODevice &device, const QByteArray &bytes, QString *error);

namespace safefile {

/// Why @p path cannot be written as a file: it exists and is no regular file (a directory, a
/// FIFO, a device), directly or through a link. Empty when it can be tried.
QString refusal(const QString &path);

/// Writes a new file at @p path through @p write, replacing an old one only once the new one is
/// complete: every write and the flush are checked, and on any failure the old file stays as it
/// was. @p write returns false on a failure and sets its reason. Returns false with the reason in
/// @p error.
bool save(const QString &path, const std::function<bool(QFileDevice &file, QString *error)> &write, QString *error);

/// Saves @p bytes as the file @p path, as save() does.
bool saveBytes(const QString &path, const QByteArray &bytes, QString *error);

/// Saves the readings of @p model as a CSV file at @p path, as save() does.
bool saveReadings(const QString &path, const ReadingsModel &model, QString *error);

} // namespace safefile
