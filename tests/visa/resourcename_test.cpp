#include <gtest/gtest.h>

#include <stdexcept>

#include "visa/resourcename.h"
#include "support/failure.h"

namespace {

using visa::InterfaceType;
using visa::ResourceName;

TEST(ResourceName, AcceptsGpibAndSerialNamesInAnyCase)
{
    const std::pair<const char *, const char *> cases[] = {
        {"GPIB0::9", "GPIB0::9::INSTR"},
        {"gpib0::9", "GPIB0::9::INSTR"},
        {"GPIB::9", "GPIB0::9::INSTR"},
        {"GPIB1::22::INSTR", "GPIB1::22::INSTR"},
        {"GPIB0::9::3::instr", "GPIB0::9::3::INSTR"},
        {"ASRL1", "ASRL1::INSTR"},
        {"ASRL1::INSTR", "ASRL1::INSTR"},
        {"asrl12::Instr", "ASRL12::INSTR"},
    };
    for (const auto &[text, canonical] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ResourceName::parse(text).canonical(), canonical);
    }
}

TEST(ResourceName, KeepsTheParts)
{
    const auto gpib = ResourceName::parse("GPIB2::17::5");
    EXPECT_EQ(gpib.type, InterfaceType::Gpib);
    EXPECT_EQ(gpib.board, 2u);
    EXPECT_EQ(gpib.primaryAddress, 17u);
    EXPECT_EQ(gpib.secondaryAddress, 5u);
    const auto serial = ResourceName::parse("ASRL3::INSTR");
    EXPECT_EQ(serial.type, InterfaceType::Serial);
    EXPECT_EQ(serial.board, 3u);
}

TEST(ResourceName, RefusesTheOtherInterfaceTypesByName)
{
    // Well-formed names of interfaces nothing here serves: refused as such, never taken for GPIB.
    const std::pair<const char *, const char *> cases[] = {
        {"TCPIP0::10.0.0.1::INSTR", "TCPIP resources are not supported"},
        {"tcpip::10.0.0.1::5025::SOCKET", "TCPIP resources are not supported"},
        {"USB0::0x1234::0x5678::SN1::INSTR", "USB resources are not supported"},
        {"GPIB-VXI0::9::INSTR", "GPIB-VXI resources are not supported"},
        {"gpib-vxi::9", "GPIB-VXI resources are not supported"},
        {"VXI0::1::INSTR", "VXI resources are not supported"},
        {"PXI0::3-18::INSTR", "PXI resources are not supported"},
        {"TCPIP0::GPIB0,9::INSTR", "TCPIP resources are not supported"},
    };
    for (const auto &[text, reason] : cases) {
        SCOPED_TRACE(text);
        EXPECT_THAT([text = text] { ResourceName::parse(text); },
                    support::FailsSaying<std::invalid_argument>({reason}));
    }
}

TEST(ResourceName, RefusesAnythingElseWithTheReason)
{
    const std::pair<const char *, const char *> cases[] = {
        {"", "only GPIB and serial"},
        {"TCPIPX", "only GPIB and serial"},
        {"GPIB-9", "expected \"::\""},
        {"GPIB0", "primary address"},
        {"GPIB0::", "primary address"},
        {"GPIB0::31", "out of range"},
        {"GPIB0::9::INSTR::INSTR", "unexpected"},
        {"GPIB0::9ASRL", "unexpected"},
        {"ASRL", "serial port number"},
        {"ASRL1::INSTR::INSTR", "unexpected"},
        {"ASRL../../X", "serial port number"},
        {"ASRL1/../../etc/passwd", "unexpected"},
        {"ASRL99999999999999999999", "out of range"},
        {"ASRL1 ", "unexpected"},
        {" GPIB0::9", "only GPIB and serial"},
        {"GPIB0::9::INSTRX", "unexpected"},
    };
    for (const auto &[text, reason] : cases) {
        SCOPED_TRACE(text);
        EXPECT_THAT([text = text] { ResourceName::parse(text); },
                    support::FailsSaying<std::invalid_argument>(
                        {"is not a valid resource name", reason, std::string("\"") + text + "\""}));
    }
}

} // namespace
