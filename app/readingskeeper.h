#pragma once

#include <memory>

#include <QFile>
#include <QString>
#include <QStringList>

#include "app/csvwriter.h"
#include "app/readingsmodel.h"

/// @brief Holds the run's readings and sees that none is lost.
///
/// With an output file (--output), each reading is written to it as it arrives. When a run
/// fails while it holds readings that are in no file, they are written to a file under the
/// user's data location, and the failure's message says where.
class ReadingsKeeper
{
public:
    ReadingsKeeper();
    ~ReadingsKeeper();

    ReadingsModel &model() { return m_model; }
    const ReadingsModel &model() const { return m_model; }

    /// Writes every run's readings to @p path as they arrive: the first run to @p path itself,
    /// a later run of the same program to the name with "-2", "-3", ... before its suffix.
    void setOutputFile(const QString &path);
    /// The file the current run writes, or empty without an output file.
    QString outputPath() const { return m_outputPath; }

    /// A run starts: the readings of the last one are gone.
    void clear();
    /// The scan has started at @p start; readings follow.
    void begin(const ReadingsModel::Start &start);
    /// One reading arrived; it is written to the output file at once.
    void add(int number, const QString &channel, const QString &value, const QString &time);
    /// "Save Readings..." wrote every reading held to a file.
    void markSaved() { m_saved = true; }

    /// Why the output file misses readings of this run, said for the operator; empty when it
    /// has them all or there is none.
    QString outputProblem() const;

    /// What becomes of the readings when the run fails now: the output file's problem, if any,
    /// and, when readings are held that are in no file, where they were kept (or why they could
    /// not be). The file is written on the first call of a run only. Empty when nothing is held.
    QStringList failureNotes();

private:
    bool inFile() const;
    QString keep();

    ReadingsModel m_model;
    QString m_outputPattern;
    QString m_outputPath;
    int m_runs = 0;
    std::unique_ptr<QFile> m_output;
    std::unique_ptr<CsvWriter> m_writer;
    QString m_openError;
    bool m_saved = false;
    QString m_kept; ///< the note of this run's kept file, once written
};
