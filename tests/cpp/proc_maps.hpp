#pragma once
// What /proc/self/smaps says of the mapping that holds an address: for
// tests of memory advice and residency. Empty where there is no such file.

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

namespace kogane::proc {

struct MappingFacts {
    std::string flags;  // the VmFlags line
    long size_kb = -1;
    long rss_kb = -1;
};

inline MappingFacts mapping_of(const void* at) {
    std::ifstream smaps("/proc/self/smaps");
    const auto address = reinterpret_cast<uintptr_t>(at);
    MappingFacts facts;
    std::string line;
    bool inside = false;
    while (std::getline(smaps, line)) {
        unsigned long long from = 0, to = 0;
        long kb = 0;
        if (std::sscanf(line.c_str(), "%llx-%llx ", &from, &to) == 2 && line.find('-') < 17) {
            if (inside) break;
            inside = from <= address && address < to;
        } else if (!inside) {
            continue;
        } else if (line.rfind("VmFlags:", 0) == 0) {
            facts.flags = line;
        } else if (std::sscanf(line.c_str(), "Size: %ld kB", &kb) == 1) {
            facts.size_kb = kb;
        } else if (std::sscanf(line.c_str(), "Rss: %ld kB", &kb) == 1) {
            facts.rss_kb = kb;
        }
    }
    return facts;
}

}  // namespace kogane::proc
