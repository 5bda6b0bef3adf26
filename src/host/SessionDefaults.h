// The settings a new session starts from: the last ones any session set.
#pragma once

#include <atomic>
#include <cstdint>

struct SessionDefaults {
    std::atomic<uint32_t> sampleRate{44100};
    std::atomic<uint32_t> blockSize{1024};
};
