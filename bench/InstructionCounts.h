// Instructions per block as bench/instructions.sh writes them with --rows:
// "<frames>\t<server kind>\t<whole process>\t<own work>" per line.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

struct InstructionCount {
    long wholeProcess = 0;
    long ownWork = 0;
};

using InstructionCounts = std::map<std::pair<uint32_t, std::string>, InstructionCount>;

// Empty when the file cannot be read.
InstructionCounts readInstructionCounts(const std::string& path);
