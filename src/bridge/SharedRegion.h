// One session's shared block and its audio, laid out for the session's
// channels: made by the program, handed to the plug-in process as a handle
// it inherits, unmapped and closed by each side's owner.
#pragma once

#include <memory>

#include "bridge/SharedBlock.h"

namespace bridge {

class SharedRegion {
public:
    // A fresh, zeroed region for the layout; null when the system refuses one.
    static std::unique_ptr<SharedRegion> create(const ChannelLayout& layout);
    // The region behind an inherited handle; null when the layout its block
    // names does not fit the region, or is none.
    static std::unique_ptr<SharedRegion> attach(int handle);
    ~SharedRegion();
    SharedRegion(const SharedRegion&) = delete;
    SharedRegion& operator=(const SharedRegion&) = delete;

    SharedBlock& block() { return *mapped; }
    const SharedBlock& block() const { return *mapped; }
    int handle() const { return descriptor; }
    // The layout this side made or checked, never read again from the block.
    const ChannelLayout& layout() const { return channels; }
    float* input(uint32_t channel) { return audio() + std::size_t(channel) * maxFrames; }
    float* output(uint32_t channel) {
        return audio() + std::size_t(channels.inputs + channel) * maxFrames;
    }

private:
    SharedRegion(int descriptor, SharedBlock* mapped, ChannelLayout channels)
        : descriptor(descriptor), mapped(mapped), channels(channels) {}
    float* audio() {
        return reinterpret_cast<float*>(reinterpret_cast<char*>(mapped) + audioOffset);
    }

    int descriptor;
    SharedBlock* mapped;
    ChannelLayout channels;
};

}  // namespace bridge
