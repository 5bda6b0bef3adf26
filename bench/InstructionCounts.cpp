#include "InstructionCounts.h"

#include <fstream>
#include <sstream>

InstructionCounts readInstructionCounts(const std::string& path) {
    InstructionCounts counts;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        std::istringstream fields(line);
        uint32_t frames = 0;
        std::string kind;
        InstructionCount count;
        if (fields >> frames >> kind >> count.wholeProcess >> count.ownWork)
            counts[{frames, kind}] = count;
    }
    return counts;
}
