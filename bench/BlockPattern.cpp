#include "BlockPattern.h"

#include <cmath>
#include <cstring>

std::vector<uint8_t> makeBlock(uint32_t frames) {
    std::vector<float> samples(2 * static_cast<size_t>(frames));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<float>(std::sin(0.01 * static_cast<double>(i)) * 0.8);
    std::vector<uint8_t> bytes(samples.size() * sizeof(float));
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

std::vector<uint8_t> expectedReply(const std::vector<uint8_t>& block, Expectation expectation) {
    if (expectation == Expectation::same) return block;
    if (expectation == Expectation::any) return {};
    std::vector<float> samples(block.size() / sizeof(float));
    std::memcpy(samples.data(), block.data(), block.size());
    for (float& sample : samples) sample *= 0.5f;
    std::vector<uint8_t> bytes(block.size());
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

bool replyMatches(const uint8_t* reply, size_t size, const std::vector<uint8_t>& block,
                  const std::vector<uint8_t>& expected, Expectation expectation) {
    if (size != block.size()) return false;
    if (expectation == Expectation::any) return true;
    return std::memcmp(reply, expected.data(), size) == 0;
}
