#pragma once

// The part of the VISA C API that SystemVisaBackend calls, with the widths of the 64-bit Linux
// ABI. Declared here because the library is loaded at run time, never linked; the test stand-in
// library implements the same declarations.

#include <cstdint>

namespace visa::c {

using ViStatus = std::int32_t;
using ViSession = std::uint32_t;
using ViObject = std::uint32_t;
using ViUInt32 = std::uint32_t;
using ViAttr = std::uint32_t;
using ViAttrState = std::uint64_t;
using ViAccessMode = std::uint32_t;
using ViChar = char;
using ViByte = unsigned char;

constexpr ViStatus VI_SUCCESS = 0;
constexpr ViStatus VI_SUCCESS_TERM_CHAR = 0x3FFF0005;
constexpr ViStatus VI_SUCCESS_MAX_CNT = 0x3FFF0006;
constexpr ViStatus VI_ERROR_RSRC_NFOUND = static_cast<ViStatus>(0xBFFF0011u);
constexpr ViStatus VI_ERROR_TMO = static_cast<ViStatus>(0xBFFF0015u);

constexpr ViAccessMode VI_NO_LOCK = 0;
constexpr ViUInt32 VI_TMO_IMMEDIATE = 0;
constexpr ViAttrState VI_FALSE = 0;
constexpr ViAttrState VI_TRUE = 1;

constexpr ViAttr VI_ATTR_SEND_END_EN = 0x3FFF0016;
constexpr ViAttr VI_ATTR_TERMCHAR = 0x3FFF0018;
constexpr ViAttr VI_ATTR_TMO_VALUE = 0x3FFF001A;
constexpr ViAttr VI_ATTR_ASRL_BAUD = 0x3FFF0021;
constexpr ViAttr VI_ATTR_ASRL_DATA_BITS = 0x3FFF0022;
constexpr ViAttr VI_ATTR_ASRL_PARITY = 0x3FFF0023;
constexpr ViAttr VI_ATTR_ASRL_STOP_BITS = 0x3FFF0024;
constexpr ViAttr VI_ATTR_ASRL_FLOW_CNTRL = 0x3FFF0025;
constexpr ViAttr VI_ATTR_TERMCHAR_EN = 0x3FFF0038;
constexpr ViAttr VI_ATTR_ASRL_END_IN = 0x3FFF00B3;
constexpr ViAttr VI_ATTR_ASRL_END_OUT = 0x3FFF00B4;

constexpr ViAttrState VI_ASRL_PAR_NONE = 0;
constexpr ViAttrState VI_ASRL_PAR_ODD = 1;
constexpr ViAttrState VI_ASRL_PAR_EVEN = 2;
constexpr ViAttrState VI_ASRL_PAR_MARK = 3;
constexpr ViAttrState VI_ASRL_PAR_SPACE = 4;
constexpr ViAttrState VI_ASRL_STOP_ONE = 10;
constexpr ViAttrState VI_ASRL_STOP_ONE5 = 15;
constexpr ViAttrState VI_ASRL_STOP_TWO = 20;
constexpr ViAttrState VI_ASRL_FLOW_NONE = 0;
constexpr ViAttrState VI_ASRL_FLOW_XON_XOFF = 1;
constexpr ViAttrState VI_ASRL_FLOW_RTS_CTS = 2;
constexpr ViAttrState VI_ASRL_FLOW_DTR_DSR = 4;
constexpr ViAttrState VI_ASRL_END_NONE = 0;
constexpr ViAttrState VI_ASRL_END_LAST_BIT = 1;
constexpr ViAttrState VI_ASRL_END_TERMCHAR = 2;
constexpr ViAttrState VI_ASRL_END_BREAK = 3;

/// viStatusDesc writes at most this many characters, its terminating zero included.
constexpr int kStatusDescSize = 256;

using ViOpenDefaultRMFn = ViStatus (*)(ViSession *rm);
using ViOpenFn = ViStatus (*)(ViSession rm, const ViChar *name, ViAccessMode mode, ViUInt32 timeout, ViSession *vi);
using ViSetAttributeFn = ViStatus (*)(ViObject vi, ViAttr attribute, ViAttrState value);
using ViWriteFn = ViStatus (*)(ViSession vi, const ViByte *buffer, ViUInt32 count, ViUInt32 *written);
using ViReadFn = ViStatus (*)(ViSession vi, ViByte *buffer, ViUInt32 count, ViUInt32 *read);
using ViClearFn = ViStatus (*)(ViSession vi);
using ViCloseFn = ViStatus (*)(ViObject vi);
using ViStatusDescFn = ViStatus (*)(ViObject vi, ViStatus status, ViChar description[]);

} // namespace visa::c
