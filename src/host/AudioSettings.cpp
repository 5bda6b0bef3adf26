#include <cstdio>

#include "dsp/HostSettings.h"
#include "host/VST2Host.h"

void VST2Host::setBlockSize(int32_t frames) {
    std::printf("setting Host buffer size to %i\n", frames);
    std::fflush(stdout);
    const uint32_t size = static_cast<uint32_t>(frames);
    if (size == hostBlockSize.load()) return;
    hostBlockSize.store(size);
    {
        std::lock_guard<std::mutex> lock(pluginMutex);
        if (plugin) plugin->setBlockSize(size);
    }
    freeStagingArrays();
    outputStorage = new float[2 * static_cast<std::size_t>(size)];
    outputChannels[0] = outputStorage;
    outputChannels[1] = outputStorage + size;
    inputChannels[0] = new float[size];
    inputChannels[1] = new float[size];
}

void VST2Host::freeStagingArrays() {
    delete[] inputChannels[0];
    delete[] inputChannels[1];
    delete[] outputStorage;
    inputChannels[0] = inputChannels[1] = nullptr;
    outputStorage = outputChannels[0] = outputChannels[1] = nullptr;
}

void VST2Host::setSampleRate(int32_t rate) {
    hostSampleRate.store(static_cast<uint32_t>(rate));
    std::printf("setting Host sample rate to %i\n", rate);
    std::fflush(stdout);
    std::lock_guard<std::mutex> lock(pluginMutex);
    if (plugin) plugin->setSampleRate(static_cast<uint32_t>(rate));
}
