#pragma once

#include <cstdlib>
#include <fstream>
#include <string>

namespace trenn::bench {

// A "Name:   1234 kB" line of /proc/self/status, in KiB; -1 when there is none.
inline long StatusKiB(const char* name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(name) + ":";
    while (std::getline(status, line)) {
        if (line.compare(0, prefix.size(), prefix) == 0) return std::atol(line.c_str() + prefix.size());
    }
    return -1;
}

}  // namespace trenn::bench
