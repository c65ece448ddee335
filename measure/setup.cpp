// The fixed scan: ten J thermocouples and ten DC voltages, scanned twice, ten seconds apart.

#include <cmath>
#include <limits>

#include "app/numbers.h"
#include "app/routineerror.h"
#include "app/visacomexample.h"

namespace {

const char *const kConfiguration[] = {
    "CONFigure:TEMPerature TCouple, J, (@101:110)",
    "UNIT:TEMPerature C, (@101:110)",
    "SENSe:TEMPerature:TRANSducer:TCouple:RJUNction:TYPE INTernal, (@101:110)",
    "CONFigure:VOLTage:DC 10, (@111:120)",
    "SENSe:VOLTage:NPLC 1,(@111:120)",
    "ROUTe:SCAN (@101:120)",
    "ROUTe:CHANnel:DELay 0.25, (@101:120)",
    "TRIGger:COUNt 2",
    "TRIGger:SOURce TIMer",
    "TRIGger:TIMer 10",
    "FORMat:READing:TIME:TYPE RELative",
    "FORMat:READing:TIME ON",
    "FORMat:READing:CHANnel ON",
};

/// Channels of the scan list "(@101:120)".
constexpr int kScanChannels = 20;

/// No scan of this program runs longer; a longer estimate comes from a reply gone wrong.
constexpr double kLongestRunSeconds = 24 * 60 * 60;

} // namespace

void VISAComExample::Setup()
{
    send(QStringLiteral("*RST;*OPC?"));
    replyValue = static_cast<std::int16_t>(instr->ReadNumber(visa::ASCIIType_I2));

    instr->IO->Clear();

    for (const char *command : kConfiguration)
        send(QString::fromLatin1(command));

    send(QStringLiteral("ROUTe:SCAN:SIZE?"));
    const auto scanSize = static_cast<std::int16_t>(instr->ReadNumber(visa::ASCIIType_I2));
    send(QStringLiteral("TRIGger:COUNt?"));
    const auto trigCount = static_cast<std::int32_t>(instr->ReadNumber(visa::ASCIIType_I2));
    // Fractions matter here: a 0.25 s delay read as an integer would become 0.
    send(QStringLiteral("ROUTe:CHANnel:DELay? (@101)"));
    const double chanDelay = instr->ReadNumber(visa::ASCIIType_R8);
    send(QStringLiteral("TRIGger:TIMer?"));
    const double trigTimer = instr->ReadNumber(visa::ASCIIType_R8);

    // The replies decide how many readings to wait for and for how long: a value no scan of
    // this configuration can have would otherwise give a wrong count or a wait of years.
    const auto refuse = [this](const char *query, const QString &what, const QString &expected) {
        fail(tr("The reply to \"%1\" from %2 gives %3 (expected: %4).")
                 .arg(QLatin1String(query), ioAddress, what, expected));
    };
    if (scanSize < 0 || scanSize > kScanChannels)
        refuse("ROUTe:SCAN:SIZE?", tr("a scan size of %1").arg(scanSize), tr("0 to %1 channels").arg(kScanChannels));
    if (trigCount < 1)
        refuse("TRIGger:COUNt?", tr("a trigger count of %1").arg(trigCount), tr("at least 1"));
    if (!(std::isfinite(chanDelay) && chanDelay >= 0))
        refuse("ROUTe:CHANnel:DELay? (@101)", tr("a channel delay of %1 s").arg(NumberText(chanDelay).trimmed()),
               tr("a delay of 0 s or more"));
    if (!(std::isfinite(trigTimer) && trigTimer >= 0))
        refuse("TRIGger:TIMer?", tr("a trigger timer of %1 s").arg(NumberText(trigTimer).trimmed()),
               tr("a timer of 0 s or more"));

    // At most 32767 passes of 20 channels: the product fits a 32-bit integer.
    numReadings = trigCount * scanSize;

    measTime = (trigCount * trigTimer - trigTimer) + (scanSize * chanDelay);
    if (!(measTime <= kLongestRunSeconds))
        fail(tr("The replies to \"TRIGger:COUNt?\" (%1), \"TRIGger:TIMer?\" (%2 s), \"ROUTe:SCAN:SIZE?\" (%3) and "
                "\"ROUTe:CHANnel:DELay? (@101)\" (%4 s) from %5 give a measurement time of %6 s, longer than a day.")
                 .arg(trigCount)
                 .arg(NumberText(trigTimer).trimmed())
                 .arg(scanSize)
                 .arg(NumberText(chanDelay).trimmed(), ioAddress, NumberText(measTime).trimmed()));

    QString where = QStringLiteral("Setup");
    CheckError(where);
}
