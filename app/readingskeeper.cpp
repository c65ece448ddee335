#include "app/readingskeeper.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "app/readingsexport.h"

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("ReadingsKeeper", text);
}

/// @p path with "-n" before its suffix: "r.csv" gives "r-2.csv".
QString numbered(const QString &path, int n)
{
    const QFileInfo info(path);
    const QString suffix = info.suffix();
    const QString base = suffix.isEmpty() ? info.fileName() : info.completeBaseName();
    const QString name = base + QLatin1Char('-') + QString::number(n) + (suffix.isEmpty() ? QString() : "." + suffix);
    return info.dir().filePath(name);
}

QString readingsText(int count)
{
    return count == 1 ? tr("Reading 1") : tr("Readings 1 to %1").arg(count);
}

} // namespace

ReadingsKeeper::ReadingsKeeper() = default;
ReadingsKeeper::~ReadingsKeeper() = default;

void ReadingsKeeper::setOutputFile(const QString &path)
{
    m_outputPattern = path;
}

void ReadingsKeeper::clear()
{
    m_writer.reset();
    m_output.reset();
    m_openError.clear();
    m_outputPath.clear();
    m_saved = false;
    m_kept.clear();
    m_model.begin({});
}

void ReadingsKeeper::begin(const ReadingsModel::Start &start)
{
    clear();
    m_model.begin(start);
    if (m_outputPattern.isEmpty())
        return;
    ++m_runs;
    m_outputPath = m_runs == 1 ? m_outputPattern : numbered(m_outputPattern, m_runs);
}

void ReadingsKeeper::add(int number, const QString &channel, const QString &value, const QString &time)
{
    const Reading &reading = m_model.append(number, channel, value, time);
    if (m_outputPath.isEmpty() || !m_openError.isEmpty())
        return;
    // Opened with the first reading: a run that fails before any leaves an old file as it was.
    if (!m_output) {
        if (const QString reason = safefile::refusal(m_outputPath); !reason.isEmpty()) {
            m_openError = reason;
            return;
        }
        m_output = std::make_unique<QFile>(m_outputPath);
        if (!m_output->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
            m_openError = m_output->errorString();
            m_output.reset();
            return;
        }
        m_writer = std::make_unique<CsvWriter>(*m_output);
        m_writer->writeHead(m_model.start());
    }
    m_writer->writeReading(reading);
}

bool ReadingsKeeper::inFile() const
{
    if (m_saved)
        return true;
    return m_writer && !m_writer->failed() && m_writer->readingsWritten() == m_model.rowCount();
}

QString ReadingsKeeper::outputProblem() const
{
    if (m_outputPath.isEmpty() || m_model.rowCount() == 0 || inFile())
        return {};
    const QString path = QDir::toNativeSeparators(m_outputPath);
    const QString reason = !m_openError.isEmpty() ? m_openError : m_writer ? m_writer->errorString() : QString();
    QString text = tr("The readings could not be written to %1: %2.").arg(path, reason);
    const int written = m_writer ? m_writer->readingsWritten() : 0;
    if (written > 0)
        text += QLatin1Char(' ') + tr("%1 of %2 are in it.").arg(readingsText(written)).arg(m_model.rowCount());
    return text;
}

QStringList ReadingsKeeper::failureNotes()
{
    QStringList notes;
    if (const QString problem = outputProblem(); !problem.isEmpty())
        notes.append(problem);
    if (m_model.rowCount() > 0 && !inFile()) {
        if (m_kept.isEmpty())
            m_kept = keep();
        notes.append(m_kept);
    }
    return notes;
}

QString ReadingsKeeper::keep()
{
    const int count = m_model.rowCount();
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (folder.isEmpty())
        return tr("%1 could not be saved: there is no folder for the program's data.").arg(readingsText(count));
    QString path = QDir(folder).filePath(readingsexport::suggestedFileName(m_model.start()));
    QString error;
    if (!QDir().mkpath(folder)) {
        error = tr("the folder cannot be created");
    } else {
        // Never over an earlier run's readings.
        for (int n = 2; QFileInfo::exists(path) || QFileInfo(path).isSymLink(); ++n)
            path = numbered(QDir(folder).filePath(readingsexport::suggestedFileName(m_model.start())), n);
        if (safefile::saveReadings(path, m_model, &error))
            return count == 1 ? tr("Reading 1 was saved to %1").arg(QDir::toNativeSeparators(path))
                              : tr("Readings 1 to %1 were saved to %2").arg(count).arg(QDir::toNativeSeparators(path));
    }
    return tr("%1 could not be saved to %2: %3").arg(readingsText(count), QDir::toNativeSeparators(path), error);
}
