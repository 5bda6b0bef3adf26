#include "host/PluginChild.h"

#include <cstring>

#include "bridge/BlockSignal.h"

using bridge::CommandPipe;

namespace {

// How often a waiting side looks whether the process is still there.
constexpr int lifeCheckMs = 50;

constexpr char brokeProtocol[] = "broke the plug-in process protocol";

}  // namespace

std::unique_ptr<PluginChild> PluginChild::start(const std::string& executable, uint32_t sampleRate,
                                                uint32_t blockSize) {
    auto region = bridge::SharedRegion::create();
    if (!region) return nullptr;
    int commandHandle = -1;
    auto process = ChildProcess::start(executable, *region, sampleRate, blockSize, commandHandle);
    if (!process) return nullptr;
    return std::unique_ptr<PluginChild>(
        new PluginChild(executable, std::move(region), std::move(process), commandHandle));
}

PluginChild::PluginChild(std::string executable, std::unique_ptr<bridge::SharedRegion> region,
                         std::unique_ptr<ChildProcess> process, int commandHandle)
    : executable(std::move(executable)), region(std::move(region)),
      processHandle(std::move(process)), pipe(commandHandle) {}

PluginChild::~PluginChild() {
    pipe.close();
    processHandle->kill();
}

void PluginChild::noteFault(const char* reason) {
    std::lock_guard<std::mutex> lock(faultMutex);
    if (fault.empty()) fault = reason;
}

bool PluginChild::awaitReply(bridge::PipeMessage& reply) {
    switch (pipe.receive(reply, commandTimeoutMs)) {
        case CommandPipe::Read::message:
            return true;
        case CommandPipe::Read::timedOut:
            noteFault("no answer within 30 s");
            return false;
        case CommandPipe::Read::closed:
            return false;
        case CommandPipe::Read::refused:
            noteFault(brokeProtocol);
            return false;
    }
    return false;
}

bool PluginChild::process(const float* const* inputs, float* const* outputs, uint32_t frames,
                          const bridge::SharedMidiEvent* midi, uint32_t midiCount,
                          PluginSlot::Block& result) {
    bridge::SharedBlock& block = region->block();
    const std::size_t bytes = sizeof(float) * frames;
    std::memcpy(block.input[0], inputs[0], bytes);
    std::memcpy(block.input[1], inputs[1], bytes);
    std::memcpy(block.midi, midi, sizeof *midi * midiCount);
    block.midiCount = midiCount;
    block.frames = frames;
    const uint32_t previous = block.request.load(std::memory_order_relaxed);
    const uint32_t ticket = previous + 1;
    bridge::publish(block.request, ticket);

    int waitedMs = 0;
    for (uint32_t seen;
         (seen = bridge::awaitChange(block.reply, previous, lifeCheckMs, spin)) != ticket;) {
        if (seen != previous) {  // an answer to a block never asked for
            noteFault(brokeProtocol);
            return false;
        }
        waitedMs += lifeCheckMs;
        if (processHandle->hasEnded()) return false;
        if (waitedMs >= blockTimeoutMs) {
            noteFault("no answer within 2 s");
            return false;
        }
    }
    // The child writes this word; anything but a known result breaks the rules.
    const int32_t written = block.result;
    if (written < static_cast<int32_t>(PluginSlot::Block::noPlugin) ||
        written > static_cast<int32_t>(PluginSlot::Block::recovering)) {
        noteFault(brokeProtocol);
        return false;
    }
    result = static_cast<PluginSlot::Block>(written);
    if (result == PluginSlot::Block::processed) {
        std::memcpy(outputs[0], block.output[0], bytes);
        std::memcpy(outputs[1], block.output[1], bytes);
    }
    return true;
}

void PluginChild::stop() {
    pipe.close();
    if (!processHandle->waitEnded(blockTimeoutMs)) processHandle->kill();
    processHandle->waitEnded(-1);
}

void PluginChild::kill() {
    processHandle->kill();
    processHandle->waitEnded(-1);
}

std::string PluginChild::lossReason() {
    {
        std::lock_guard<std::mutex> lock(faultMutex);
        if (!fault.empty()) return fault;
    }
    return processHandle->endReason();
}
