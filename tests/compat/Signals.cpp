#include "Signals.h"

#include <algorithm>
#include <cmath>

namespace compat {

namespace {

constexpr double twoPi = 6.283185307179586;

}  // namespace

Block silentBlock(uint32_t frames) {
    return Block(2 * static_cast<std::size_t>(frames), 0.0f);
}

Block impulseBlock(uint32_t frames, float height) {
    Block block = silentBlock(frames);
    if (frames > 0) block[0] = block[frames] = height;
    return block;
}

SineSource::SineSource(double hz, float amplitude, uint32_t sampleRate)
    : frequency(hz), amplitude(amplitude), step(twoPi * hz / sampleRate) {}

Block SineSource::next(uint32_t frames) {
    Block block(2 * static_cast<std::size_t>(frames));
    for (uint32_t i = 0; i < frames; ++i) {
        block[i] = block[frames + i] = amplitude * static_cast<float>(std::sin(phase));
        phase = std::fmod(phase + step, twoPi);
    }
    return block;
}

void Recording::append(const Block& block) {
    const std::size_t frames = block.size() / 2;
    left.insert(left.end(), block.begin(), block.begin() + frames);
    right.insert(right.end(), block.begin() + frames, block.end());
}

bool allFinite(const Block& samples) {
    return std::all_of(samples.begin(), samples.end(), [](float x) { return std::isfinite(x); });
}

bool allFinite(const Recording& recording) {
    return allFinite(recording.left) && allFinite(recording.right);
}

double rms(const std::vector<float>& side, std::size_t from, std::size_t to) {
    to = std::min(to, side.size());
    if (from >= to) return 0.0;
    double sum = 0.0;
    for (std::size_t i = from; i < to; ++i) sum += double(side[i]) * side[i];
    return std::sqrt(sum / double(to - from));
}

double peak(const std::vector<float>& side, std::size_t from, std::size_t to) {
    to = std::min(to, side.size());
    double largest = 0.0;
    for (std::size_t i = from; i < to; ++i) largest = std::max(largest, double(std::fabs(side[i])));
    return largest;
}

double toneShare(const std::vector<float>& side, std::size_t from, std::size_t to, double hz,
                 uint32_t sampleRate) {
    to = std::min(to, side.size());
    if (from >= to) return 0.0;
    // Correlation with a sine and a cosine at the frequency: the tone's
    // power against the whole power of the stretch.
    double inPhase = 0.0, quadrature = 0.0, total = 0.0;
    const double step = twoPi * hz / sampleRate;
    for (std::size_t i = from; i < to; ++i) {
        const double x = side[i];
        inPhase += x * std::cos(step * double(i - from));
        quadrature += x * std::sin(step * double(i - from));
        total += x * x;
    }
    if (total <= 0.0) return 0.0;
    const double n = double(to - from);
    const double tonePower = 2.0 * (inPhase * inPhase + quadrature * quadrature) / n;
    return std::min(1.0, tonePower / total);
}

double maxDifference(const std::vector<float>& a, const std::vector<float>& b, std::size_t delay) {
    double largest = 0.0;
    for (std::size_t i = delay; i < std::min(a.size(), b.size() + delay); ++i)
        largest = std::max(largest, double(std::fabs(a[i] - b[i - delay])));
    return largest;
}

double decibels(double ratio) {
    return ratio > 0.0 ? 20.0 * std::log10(ratio) : -1000.0;
}

}  // namespace compat
