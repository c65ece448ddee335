#pragma once

// The part of linux-gpib's C API (libgpib.so.0) that GpibBackend calls. Declared here because
// the library is loaded at run time, never linked; the test stand-in implements the same.

namespace visa::gpib {

// ibsta bits.
constexpr int ERR = 0x8000;
constexpr int TIMO = 0x4000;
constexpr int END = 0x2000;

// iberr values.
constexpr int EDVR = 0;
constexpr int ECIC = 1;
constexpr int ENOL = 2;
constexpr int EADR = 3;
constexpr int EARG = 4;
constexpr int ESAC = 5;
constexpr int EABO = 6;
constexpr int ENEB = 7;
constexpr int EDMA = 8;
constexpr int EOIP = 10;
constexpr int ECAP = 11;
constexpr int EFSO = 12;
constexpr int EBUS = 14;
constexpr int ESTB = 15;
constexpr int ESRQ = 16;
constexpr int ETAB = 20;

// Time-out codes for ibdev/ibtmo: TNONE, then T10us .. T1000s.
constexpr int TNONE = 0;
constexpr int T1000s = 17;

// eosmode bits for ibdev: REOS ends a read at the EOS byte given in the low 8 bits.
constexpr int REOS = 0x400;

// ibln's sad argument: look for a listener at the primary address only.
constexpr int NO_SAD = 0;

// Secondary addresses are passed to ibdev as 0x60 + address; 0 means none.
constexpr int kSecondaryAddressBase = 0x60;

using IbdevFn = int (*)(int board, int pad, int sad, int timo, int sendEoi, int eosMode);
using IbwrtFn = int (*)(int ud, const void *buffer, long count);
using IbrdFn = int (*)(int ud, void *buffer, long count);
using IbclrFn = int (*)(int ud);
using IbonlFn = int (*)(int ud, int online);
using IbeotFn = int (*)(int ud, int sendEoi);
using IblnFn = int (*)(int ud, int pad, int sad, short *foundListener);
using ThreadIbstaFn = int (*)();
using ThreadIberrFn = int (*)();
using ThreadIbcntlFn = long (*)();

} // namespace visa::gpib
