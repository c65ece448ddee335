// The instrument's error queue: every error it reports is shown and ends the program.

#include <limits>

#include "app/numbers.h"
#include "app/routineerror.h"
#include "app/visacomexample.h"
#include "visa/numberparse.h"

namespace {

/// More errors than the instrument's queue holds: a reply that keeps reporting errors past this
/// comes from a fault, not from the queue, and would otherwise never let the check end.
constexpr int kMaxErrorsPerCheck = 32;

/// The error number a "SYSTem:ERRor?" reply begins with, as a 16-bit integer.
std::int16_t errorNumber(const QString &errText)
{
    const double number = visa::roundHalfEven(LeadingNumber(errText));
    if (!(number >= std::numeric_limits<std::int16_t>::min() && number <= std::numeric_limits<std::int16_t>::max()))
        fail(VISAComExample::tr("The reply to \"SYSTem:ERRor?\" gives error number %1, which is outside the "
                                "16-bit range: \"%2\"")
                 .arg(NumberText(number), errText.trimmed()));
    return static_cast<std::int16_t>(number);
}

} // namespace

void VISAComExample::CheckError(QString &where)
{
    send(QStringLiteral("SYSTem:ERRor?"));
    QString errText = readString();
    std::int16_t errNum = errorNumber(errText);
    bool anyError = false;
    int errorsShown = 0;

    while (errNum != 0) {
        if (errorsShown == kMaxErrorsPerCheck)
            fail(tr("The error queue of %1 did not empty: \"SYSTem:ERRor?\" still reports errors after %2 reads.")
                     .arg(ioAddress)
                     .arg(kMaxErrorsPerCheck));
        ++errorsShown;
        anyError = true;
        // Each message builds on the last, so every box repeats the ones before it.
        where = tr("Error in: ") + where + QLatin1Char('\n');
        where += tr("Error Number: ") + NumberText(errNum) + QLatin1Char('\n') + tr("Error Message: ") + errText;
        showMessage(where);

        send(QStringLiteral("SYSTem:ERRor?"));
        errText = readString();
        errNum = errorNumber(errText);
    }

    if (anyError) {
        send(QStringLiteral("*CLS"));
        instr->IO->Close();
        End();
    }
}
