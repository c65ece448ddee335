#pragma once

#include <string>
#include <vector>

namespace sim::scpi {

/// NR1 with an explicit sign: "+20", "-113", "+0".
std::string formatNr1(long long value);

/// NR3 with an explicit sign and @p decimals digits after the point: "+2.50000000E-01".
std::string formatNr3(double value, int decimals = 8);

/// A SCPI boolean reply: "1" or "0".
std::string formatBool(bool value);

/// A channel list with runs of consecutive channels folded: "(@101:110,115)".
std::string formatChannelList(const std::vector<int> &channels);

} // namespace sim::scpi
