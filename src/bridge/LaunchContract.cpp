#include "bridge/LaunchContract.h"

#include <cerrno>
#include <cstdlib>

#include "bridge/SharedBlock.h"

namespace bridge {

namespace {

std::optional<long long> decimal(const char* word, long long lowest, long long highest) {
    if (!word || *word < '0' || *word > '9') return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(word, &end, 10);
    if (errno != 0 || *end != '\0' || value < lowest || value > highest) return std::nullopt;
    return value;
}

}  // namespace

std::vector<std::string> launchWords(const LaunchArguments& arguments) {
    return {std::to_string(arguments.programId), std::to_string(arguments.sampleRate),
            std::to_string(arguments.blockSize), std::to_string(arguments.commandHandle),
            std::to_string(arguments.regionHandle)};
}

std::optional<LaunchArguments> parseLaunch(int argc, const char* const* argv) {
    if (argc != 6) return std::nullopt;
    const auto program = decimal(argv[1], 1, UINT32_MAX);
    const auto rate = decimal(argv[2], 1, UINT32_MAX);
    const auto frames = decimal(argv[3], 1, maxFrames);
    const auto command = decimal(argv[4], 0, INT32_MAX);
    const auto region = decimal(argv[5], 0, INT32_MAX);
    if (!program || !rate || !frames || !command || !region) return std::nullopt;
    LaunchArguments arguments;
    arguments.programId = static_cast<uint32_t>(*program);
    arguments.sampleRate = static_cast<uint32_t>(*rate);
    arguments.blockSize = static_cast<uint32_t>(*frames);
    arguments.commandHandle = static_cast<int32_t>(*command);
    arguments.regionHandle = static_cast<int32_t>(*region);
    return arguments;
}

}  // namespace bridge
