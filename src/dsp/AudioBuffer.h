// Equally long channels of float samples, one allocation per channel.
#pragma once

#include <cstdint>
#include <vector>

namespace Vexa::DSP {

class AudioBuffer {
public:
    AudioBuffer() = default;
    virtual ~AudioBuffer();
    AudioBuffer(const AudioBuffer&) = delete;
    AudioBuffer& operator=(const AudioBuffer&) = delete;

    // Reallocates only what changed and zeroes every sample. A channel
    // count of 0 keeps the current count.
    bool resize(uint32_t frameCount, int32_t channelCount);
    float* getChannel(uint32_t index) const;

    uint32_t frames = 0;
    std::vector<float*> channels;

private:
    void freeChannels();
};

}  // namespace Vexa::DSP
