// Prints the name of every fault the simulated instrument knows, one a line, as a user types it
// before any value: "no-dmm", "model=". With --instrument-only, only the faults the instrument
// itself acts on (those qvscan-sim takes). The manual page and completion tests compare against it.

#include <cstdio>
#include <cstring>

#include "sim/faults.h"

int main(int argc, char **argv)
{
    const bool instrumentOnly = argc > 1 && std::strcmp(argv[1], "--instrument-only") == 0;
    for (const sim::Faults::Kind &kind : sim::Faults::kinds()) {
        if (instrumentOnly && !kind.inInstrument)
            continue;
        std::printf("%.*s%s\n", int(kind.name.size()), kind.name.data(), kind.value.empty() ? "" : "=");
    }
    return 0;
}
