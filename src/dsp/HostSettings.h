// The process-wide audio settings: one sample rate and one block size for
// every plug-in. Written on the channel's worker thread, read on the GUI
// thread and on whatever thread a plug-in asks from, hence atomic.
#pragma once

#include <atomic>
#include <cstdint>

extern std::atomic<uint32_t> hostSampleRate;  // Hz, 44100 until the client sets it
extern std::atomic<uint32_t> hostBlockSize;   // frames, 0 until the host sets 1024
