#include <cstring>

#include "dsp/HostSettings.h"
#include "host/VST2Host.h"

bool VST2Host::onBinary(const std::vector<uint8_t>& message) {
    handleBinary(message);
    return true;
}

void VST2Host::handleBinary(const std::vector<uint8_t>& message) {
    if (pendingSetState) {
        pendingSetState = false;
        requestRestore(message.data(), message.size());
        return;
    }
    std::unique_lock<std::mutex> lock(pluginMutex);
    if (!plugin) return;
    const std::size_t channelBytes = sizeof(float) * hostBlockSize.load();
    // A short block would be read past its end: answer it, process nothing.
    if (message.size() < 2 * channelBytes) {
        lock.unlock();
        ipc.sendBinary(nullptr, 0);
        return;
    }
    std::memcpy(inputChannels[0], message.data(), channelBytes);
    std::memcpy(inputChannels[1], message.data() + channelBytes, channelBytes);
    const Vexa::DSP::AudioBuffer* output = plugin->process(inputChannels);
    if (!output) {
        lock.unlock();
        ipc.sendBinary(nullptr, 0);
        return;
    }
    std::memcpy(outputChannels[0], output->getChannel(0), channelBytes);
    std::memcpy(outputChannels[1], output->getChannel(1), channelBytes);
    lock.unlock();
    ipc.sendBinary(outputStorage, 2 * channelBytes);
}
