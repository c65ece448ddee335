#pragma once

#include <string>
#include <vector>

namespace support {

/// The thirteen commands that configure the program's scan, in the order it sends them. The
/// program keeps its own list; this one is what the tests hold it to.
inline const std::vector<std::string> &scanConfiguration()
{
    static const std::vector<std::string> commands{
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
    return commands;
}

} // namespace support
