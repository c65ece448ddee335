// The scan itself: start it, wait until every reading is stored, and list them.

#include <QCoreApplication>

#include <algorithm>

#include "app/numbers.h"
#include "app/platform.h"
#include "app/routineerror.h"
#include "app/visacomexample.h"

void VISAComExample::Readings()
{
    m_readingsListed = 0;
    send(QStringLiteral("INITiate"));

    send(QStringLiteral("SYSTem:DATE?"));
    QString dateText = readString();
    dateText = RemoveLfCr(dateText);
    send(QStringLiteral("SYSTem:TIME?"));
    QString timeText = readString();
    timeText = RemoveLfCr(timeText);
    noteScanStart(dateText, timeText);

    waitForReadings();

    clearList();
    appendInstructions();
    appendLine(QString());
    appendLine(tr("Start Date (yyyy,mm,dd): ") + dateText);
    appendLine(tr("Start Time (hh,mm,ss.sss): ") + timeText);
    appendLine(QStringLiteral("Rdng#\tChannel\tValue\t\tTime"));
    repaintList();

    const bool serial = ioAddress.contains(QLatin1String("ASRL"));
    const std::int32_t count = numReadings;
    for (std::int32_t reading = 1; reading <= count; ++reading) {
        send(QStringLiteral("DATA:REMove? 1"));
        const std::vector<std::string> fields = instr->ReadList(visa::ASCIIType_BSTR, ",");
        if (fields.size() < 3)
            fail(tr("Reading %1 from %2 has %3 field(s); value, time and channel were expected: \"%4\"")
                     .arg(reading)
                     .arg(ioAddress)
                     .arg(fields.size())
                     .arg(QString::fromLatin1(fields.front()).trimmed()));
        QString channel = QString::fromLatin1(fields[2]);
        if (serial) {
            // On a serial line what is left of the terminator is still attached to the last
            // field: a CR (and whatever follows it), or nothing when the instrument sent LF alone.
            qsizetype end = channel.indexOf(QLatin1Char('\r'));
            if (end < 0)
                end = channel.indexOf(QLatin1Char('\n'));
            if (end >= 0)
                channel.truncate(end);
        }
        appendLine(NumberText(reading) + QLatin1Char('\t') + channel + QLatin1Char('\t')
                   + QString::fromLatin1(fields[0]) + QLatin1Char('\t') + QString::fromLatin1(fields[1]));
        noteReading(reading, channel, QString::fromLatin1(fields[0]), QString::fromLatin1(fields[1]));
        ++m_readingsListed;
    }

    QString where = QStringLiteral("Readings");
    CheckError(where);
}

void VISAComExample::waitForReadings()
{
    // Generous: the instrument's own estimate plus a minute. A stopped scan or a count that
    // overshoots would otherwise keep the operator waiting for ever.
    constexpr double kGraceSeconds = 60;
    const double limitSeconds = measTime + kGraceSeconds;
    const auto deadline = deadlineAfter(limitSeconds);
    std::int32_t most = 0;
    for (;;) {
        send(QStringLiteral("DATA:POINTS?"));
        const auto points = static_cast<std::int32_t>(instr->ReadNumber(visa::ASCIIType_I4));
        showStoredReadings(points);
        if (points == numReadings)
            return;
        if (points > numReadings)
            fail(tr("The instrument at %1 stored %2 readings of %3 expected.")
                     .arg(ioAddress)
                     .arg(points)
                     .arg(numReadings));
        most = std::max(most, points);
        if (m_platform.now() > deadline) {
            QString description = tr("The instrument at %1 stored %2 readings of %3 expected within %4 seconds.")
                                      .arg(ioAddress)
                                      .arg(points)
                                      .arg(numReadings)
                                      .arg(NumberText(limitSeconds).trimmed());
            if (most > points)
                description += tr(" Its count of stored readings went down from %1 to %2.").arg(most).arg(points);
            fail(description + instrumentReport());
        }
    }
}

std::chrono::nanoseconds VISAComExample::deadlineAfter(double seconds) const
{
    // Saturates instead of overflowing, however large the estimate the instrument's replies give.
    const std::chrono::nanoseconds now = m_platform.now();
    const double room = std::chrono::duration<double>(std::chrono::nanoseconds::max() - now).count();
    if (!(seconds < room))
        return std::chrono::nanoseconds::max();
    return now
           + std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::duration<double>(std::max(seconds, 0.0)));
}

QString VISAComExample::instrumentReport()
{
    // Why the scan stalled is most often in the error queue; the run ends anyway, so reading
    // one entry of it costs nothing the operator needs.
    try {
        send(QStringLiteral("SYSTem:ERRor?"));
        const QString errText = readString();
        if (LeadingNumber(errText) == 0)
            return tr(" It reports no error.");
        return tr(" It reports the error %1").arg(errText.trimmed());
    } catch (const RoutineError &e) {
        return tr(" Its error queue could not be read: %1").arg(e.description());
    } catch (const std::exception &e) {
        // The I/O library's failures (visa::VisaError), and anything unforeseen.
        return tr(" Its error queue could not be read: %1").arg(QString::fromStdString(e.what()));
    }
}
