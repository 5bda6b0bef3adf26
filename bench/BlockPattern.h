// The audio sent per block and the reply expected for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum class Expectation {
    same,  // an echo
    half,  // the gain test plug-in: every sample times 0.5
    any,   // another plug-in: only the size is known
};

// Two planar channels of `frames` little-endian floats.
std::vector<uint8_t> makeBlock(uint32_t frames);

// The reply expected for `block`; empty for Expectation::any.
std::vector<uint8_t> expectedReply(const std::vector<uint8_t>& block, Expectation expectation);

bool replyMatches(const uint8_t* reply, size_t size, const std::vector<uint8_t>& block,
                  const std::vector<uint8_t>& expected, Expectation expectation);
