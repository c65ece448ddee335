#include "app/csvwriter.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSaveFile>

#include "app/readingsexport.h"

CsvWriter::CsvWriter(QFileDevice &file)
    : m_file(file)
{
}

bool CsvWriter::writeHead(const ReadingsModel::Start &start)
{
    return write(QByteArray(readingsexport::kByteOrderMark) + readingsexport::csvHead(start).toUtf8());
}

bool CsvWriter::writeReading(const Reading &reading)
{
    if (!write(readingsexport::csvRecord(reading).toUtf8()))
        return false;
    ++m_readings;
    return true;
}

bool CsvWriter::write(const QByteArray &bytes)
{
    if (failed())
        return false;
    const qint64 before = m_file.pos();
    if (writeAll(m_file, bytes, &m_error)) {
        if (m_file.flush())
            return true;
        m_error = m_file.errorString();
    }
    // Whatever part of the record reached the file goes again: a reader sees whole records only.
    if (m_file.pos() != before && !m_file.resize(before))
        m_error += QCoreApplication::translate("CsvWriter", "; the incomplete record at the end could not be removed");
    m_file.seek(before);
    return false;
}

bool writeAll(QIODevice &device, const QByteArray &bytes, QString *error)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 n = device.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0) {
            *error = device.errorString();
            if (error->isEmpty())
                *error = QCoreApplication::translate("CsvWriter", "only %1 of %2 bytes were written")
                             .arg(done)
                             .arg(bytes.size());
            return false;
        }
        done += n;
    }
    return true;
}

namespace safefile {

QString refusal(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isFile())
        return {};
    if (info.isDir())
        return QCoreApplication::translate("safefile", "it is a directory");
    return QCoreApplication::translate("safefile", "it is not a regular file (a device, a FIFO or a socket)");
}

bool save(const QString &path, const std::function<bool(QFileDevice &file, QString *error)> &write, QString *error)
{
    if (const QString reason = refusal(path); !reason.isEmpty()) {
        *error = reason;
        return false;
    }
    // Unbuffered, every write reaches the temporary file at once and its failure is seen;
    // buffered, a failure at the final flush would go unnoticed by commit().
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        *error = file.errorString();
        return false;
    }
    if (!write(file, error)) {
        file.cancelWriting();
        return false;
    }
    if (!file.flush()) {
        *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

bool saveBytes(const QString &path, const QByteArray &bytes, QString *error)
{
    return save(
        path, [&bytes](QFileDevice &file, QString *reason) { return writeAll(file, bytes, reason); }, error);
}

bool saveReadings(const QString &path, const ReadingsModel &model, QString *error)
{
    return save(
        path,
        [&model](QFileDevice &file, QString *reason) {
            CsvWriter writer(file);
            bool ok = writer.writeHead(model.start());
            for (const Reading &reading : model.readings())
                ok = ok && writer.writeReading(reading);
            if (!ok)
                *reason = writer.errorString();
            return ok;
        },
        error);
}

} // namespace safefile
