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

std::vector<uint8_t> expectedReply(const std::vector<uint8_t>& block, Expectation expectation,
                                   uint32_t outputs) {
    if (expectation == Expectation::same) return block;
    if (expectation == Expectation::any) return {};
    std::vector<float> input(block.size() / sizeof(float));
    std::memcpy(input.data(), block.data(), block.size());
    std::vector<float> samples;
    if (expectation == Expectation::half) {
        samples = input;
        for (float& sample : samples) sample *= 0.5f;
    } else {
        // As the program computes it: the plug-in's constant, then the input added.
        const size_t frames = input.size() / 2;
        samples.resize(outputs * frames);
        for (size_t c = 0; c < outputs; ++c)
            for (size_t i = 0; i < frames; ++i)
                samples[c * frames + i] =
                    static_cast<float>(c + 1) / 100.0f + (c < 2 ? input[c * frames + i] : 0.0f);
    }
    std::vector<uint8_t> bytes(samples.size() * sizeof(float));
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

bool replyMatches(const uint8_t* reply, size_t size, size_t replyBytes,
                  const std::vector<uint8_t>& expected, Expectation expectation) {
    if (size != replyBytes) return false;
    if (expectation == Expectation::any) return true;
    return expected.size() == size && std::memcmp(reply, expected.data(), size) == 0;
}
