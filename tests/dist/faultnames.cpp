// Prints the name of every fault the simulated instrument knows, one a line, as a user types it
// before any value: "no-dmm", "model=". The manual page and completion tests compare against it.

#include <cstdio>
#include <sstream>
#include <string>

#include "sim/faults.h"

int main()
{
    std::istringstream lines(sim::Faults::help());
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string name;
        if (!(words >> name))
            continue;
        if (const std::size_t equals = name.find('='); equals != std::string::npos)
            name.erase(equals + 1);
        std::printf("%s\n", name.c_str());
    }
    return 0;
}
