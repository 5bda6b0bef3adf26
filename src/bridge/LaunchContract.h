// How the program starts a plug-in process, for both sides to read alike:
//   corvel-plugin-host <program id> <sample rate> <block size> <command> <region>
// <command> and <region> are the inherited command pipe and shared region:
// on Linux the descriptor numbers the child finds them under, on Windows
// the values of the inherited handles.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bridge {

// Where a Linux plug-in process finds what it inherits; nothing else of the
// program's stays open in it.
constexpr int inheritedCommandDescriptor = 3;
constexpr int inheritedRegionDescriptor = 4;

struct LaunchArguments {
    uint32_t programId = 0;
    uint32_t sampleRate = 0;
    uint32_t blockSize = 0;
    int32_t commandHandle = -1;
    int32_t regionHandle = -1;
};

// The words after the program's name.
std::vector<std::string> launchWords(const LaunchArguments& arguments);

// Null unless argv holds exactly the words launchWords writes, each a
// plain decimal number in its range.
std::optional<LaunchArguments> parseLaunch(int argc, const char* const* argv);

}  // namespace bridge
