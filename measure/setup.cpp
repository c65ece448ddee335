// The fixed scan: ten J thermocouples and ten DC voltages, scanned twice, ten seconds apart.

#include <cmath>
#include <limits>

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

    const std::int64_t readings = std::int64_t(trigCount) * scanSize;
    if (readings < std::numeric_limits<std::int32_t>::min() || readings > std::numeric_limits<std::int32_t>::max())
        throw std::overflow_error("The expected number of readings (" + std::to_string(trigCount) + " passes of "
                                  + std::to_string(scanSize) + " channels) is too large.");
    numReadings = static_cast<std::int32_t>(readings);

    measTime = (trigCount * trigTimer - trigTimer) + (scanSize * chanDelay);
    if (!std::isfinite(measTime))
        throw std::overflow_error("The measurement time cannot be estimated from trigger timer "
                                  + std::to_string(trigTimer) + " s and channel delay " + std::to_string(chanDelay)
                                  + " s.");

    QString where = QStringLiteral("Setup");
    CheckError(where);
}
