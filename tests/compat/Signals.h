// Test audio for the plug-ins and the measurements that tell whether what
// came back is plausible. Blocks are planar, as on the wire: left, then right.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace compat {

using Block = std::vector<float>;

Block silentBlock(uint32_t frames);
// Silence with one sample of the given height at the first frame of both sides.
Block impulseBlock(uint32_t frames, float height);

class SineSource {
public:
    SineSource(double hz, float amplitude, uint32_t sampleRate);
    Block next(uint32_t frames);
    double hz() const { return frequency; }

private:
    double frequency;
    float amplitude;
    double step;
    double phase = 0.0;
};

// The two sides of everything a plug-in sent back, one after the other.
struct Recording {
    std::vector<float> left;
    std::vector<float> right;

    void append(const Block& block);
    std::size_t frames() const { return left.size(); }
};

bool allFinite(const Block& samples);
bool allFinite(const Recording& recording);

// Over frames [from, to) of one side; out-of-range ends are clipped.
double rms(const std::vector<float>& side, std::size_t from, std::size_t to);
double peak(const std::vector<float>& side, std::size_t from, std::size_t to);
// The part of the power in [from, to) that lies at one frequency (0 to 1).
double toneShare(const std::vector<float>& side, std::size_t from, std::size_t to, double hz,
                 uint32_t sampleRate);
// Largest difference between two sides, the second delayed by `delay` frames.
double maxDifference(const std::vector<float>& a, const std::vector<float>& b, std::size_t delay);

double decibels(double ratio);

}  // namespace compat
