#include "dsp/HostSettings.h"

std::atomic<uint32_t> hostSampleRate{44100};
std::atomic<uint32_t> hostBlockSize{0};
