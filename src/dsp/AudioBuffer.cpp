#include "dsp/AudioBuffer.h"

#include <algorithm>

namespace Vexa::DSP {

AudioBuffer::~AudioBuffer() {
    freeChannels();
    frames = 0;
    std::vector<float*>().swap(channels);
}

void AudioBuffer::freeChannels() {
    for (float* channel : channels) delete[] channel;
    channels.clear();
}

bool AudioBuffer::resize(uint32_t frameCount, int32_t channelCount) {
    const std::size_t wanted =
        channelCount == 0 ? channels.size() : static_cast<std::size_t>(channelCount);
    if (wanted != channels.size()) {
        freeChannels();
        for (std::size_t i = 0; i < wanted; ++i) channels.push_back(new float[frameCount]);
    } else if (frameCount != frames) {
        for (float*& channel : channels) {
            float* fresh = new float[frameCount];
            delete[] channel;
            channel = fresh;
        }
    }
    frames = frameCount;
    for (float* channel : channels) std::fill_n(channel, frames, 0.0f);
    return true;
}

float* AudioBuffer::getChannel(uint32_t index) const {
    return index < channels.size() ? channels[index] : nullptr;
}

}  // namespace Vexa::DSP
