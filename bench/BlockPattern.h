// The audio sent per block and the reply expected for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum class Expectation {
    same,    // an echo
    half,    // the gain test plug-in: every sample times 0.5
    levels,  // the multi-output test plug-in: output c holds (c + 1) / 100, the
             // input added to the first pair as to every instrument's
    any,     // another plug-in: only the size is known
};

// Two planar channels of `frames` little-endian floats.
std::vector<uint8_t> makeBlock(uint32_t frames);

// The reply expected for `block` (two channels), with `outputs` channels;
// empty for Expectation::any. same and half keep the block's two.
std::vector<uint8_t> expectedReply(const std::vector<uint8_t>& block, Expectation expectation,
                                   uint32_t outputs = 2);

// Whether a reply of `size` bytes is `replyBytes` long and, unless the
// expectation is any, is `expected` to the bit.
bool replyMatches(const uint8_t* reply, size_t size, size_t replyBytes,
                  const std::vector<uint8_t>& expected, Expectation expectation);
