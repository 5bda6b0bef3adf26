#include "host/PluginChild.h"

#include <chrono>
#include <cstring>

#include "bridge/BlockSignal.h"

using bridge::CommandPipe;

namespace {

// How often a waiting side looks whether the process is still there.
constexpr int lifeCheckMs = 50;

constexpr char brokeProtocol[] = "broke the plug-in process protocol";

}  // namespace

std::unique_ptr<PluginChild> PluginChild::start(const std::string& executable, uint32_t sampleRate,
                                                uint32_t blockSize,
                                                const bridge::ChannelLayout& layout,
                                                EventHandler onEvent) {
    auto region = bridge::SharedRegion::create(layout);
    if (!region) return nullptr;
    int commandHandle = -1;
    auto process = ChildProcess::start(executable, *region, sampleRate, blockSize, commandHandle);
    if (!process) return nullptr;
    return std::unique_ptr<PluginChild>(new PluginChild(
        executable, std::move(region), std::move(process), commandHandle, std::move(onEvent)));
}

PluginChild::PluginChild(std::string executable, std::unique_ptr<bridge::SharedRegion> region,
                         std::unique_ptr<ChildProcess> process, int commandHandle,
                         EventHandler onEvent)
    : executable(std::move(executable)), region(std::move(region)),
      processHandle(std::move(process)), pipe(commandHandle), onEvent(std::move(onEvent)),
      reader([this] { readPipe(); }) {}

PluginChild::~PluginChild() {
    endReader();
    processHandle->kill();
}

void PluginChild::endReader() {
    closing.store(true);
    pipe.close();
    // The last owner may be the reader itself, through an event handler
    // that ends the session.
    if (reader.joinable()) {
        if (reader.get_id() == std::this_thread::get_id()) {
            reader.detach();
        } else {
            reader.join();
        }
    }
}

void PluginChild::readPipe() {
    // A finite wait, so a close that a platform fails to wake us for
    // still ends the thread.
    constexpr int closeCheckMs = 200;
    for (;;) {
        bridge::PipeMessage message;
        const CommandPipe::Read read = pipe.receive(message, closeCheckMs);
        if (read == CommandPipe::Read::timedOut) {
            if (closing.load()) break;
            continue;
        }
        if (read == CommandPipe::Read::refused) noteFault(brokeProtocol);
        if (read != CommandPipe::Read::message) break;
        if (message.kind == static_cast<uint32_t>(bridge::MessageKind::pluginEvent)) {
            const auto event = bridge::decodeAs<bridge::PluginEvent>(message);
            if (!event) {
                noteFault(brokeProtocol);
                break;
            }
            if (onEvent && !closing.load()) onEvent(*event);
            continue;
        }
        std::lock_guard<std::mutex> lock(replyMutex);
        // Only one reply per request: anything more is a process flooding us.
        if (!replyExpected || !replies.empty()) {
            noteFault(brokeProtocol);
            break;
        }
        replies.push_back(std::move(message));
        replyArrived.notify_all();
    }
    std::lock_guard<std::mutex> lock(replyMutex);
    pipeEnded = true;
    replyArrived.notify_all();
}

void PluginChild::noteFault(const char* reason) {
    std::lock_guard<std::mutex> lock(faultMutex);
    if (fault.empty()) fault = reason;
}

void PluginChild::expectReply() {
    std::lock_guard<std::mutex> lock(replyMutex);
    replyExpected = true;
}

bool PluginChild::awaitReply(bridge::PipeMessage& reply) {
    std::unique_lock<std::mutex> lock(replyMutex);
    const bool answered = replyArrived.wait_for(lock, std::chrono::milliseconds(commandTimeoutMs),
                                                [this] { return !replies.empty() || pipeEnded; });
    replyExpected = false;
    if (!replies.empty()) {
        reply = std::move(replies.front());
        replies.pop_front();
        return true;
    }
    if (!answered) noteFault("no answer within 30 s");
    return false;
}

bool PluginChild::process(const float* const* inputs, float* const* outputs, uint32_t frames,
                          const BlockExtras& extras, PluginSlot::Block& result,
                          bridge::MidiOut& midiOut) {
    bridge::SharedBlock& block = region->block();
    const bridge::ChannelLayout& channels = region->layout();
    const std::size_t bytes = sizeof(float) * frames;
    for (uint32_t c = 0; c < channels.inputs; ++c) std::memcpy(region->input(c), inputs[c], bytes);
    std::memcpy(block.midi, extras.midi, sizeof *extras.midi * extras.midiCount);
    block.midiCount = extras.midiCount;
    std::memcpy(block.parameters, extras.changes, sizeof *extras.changes * extras.changeCount);
    block.parameterCount = extras.changeCount;
    block.transport.given = 0;
    if (extras.transport) {
        block.transport = *extras.transport;
        block.transport.given = 1;
    }
    block.frames = frames;
    const uint32_t previous = block.request.load(std::memory_order_relaxed);
    const uint32_t ticket = previous + 1;
    bridge::publish(block.request, ticket);

    int waitedMs = 0;
    const int limitMs = blockLimitMs.load();
    for (uint32_t seen;
         (seen = bridge::awaitChange(block.reply, previous, lifeCheckMs, spin)) != ticket;) {
        if (seen != previous) {  // an answer to a block never asked for
            noteFault(brokeProtocol);
            return false;
        }
        waitedMs += lifeCheckMs;
        if (processHandle->hasEnded()) return false;
        if (waitedMs >= limitMs) {
            noteFault(limitMs >= offlineBlockTimeoutMs ? "no answer within 30 s"
                                                       : "no answer within 2 s");
            return false;
        }
    }
    // The child writes these; anything but a known result, or MIDI that
    // points past its pool, breaks the rules.
    const int32_t written = block.result;
    if (written < static_cast<int32_t>(PluginSlot::Block::noPlugin) ||
        written > static_cast<int32_t>(PluginSlot::Block::recovering) ||
        !midiOut.copyCheckedFrom(block.midiOut)) {
        noteFault(brokeProtocol);
        return false;
    }
    result = static_cast<PluginSlot::Block>(written);
    if (result == PluginSlot::Block::processed)
        for (uint32_t c = 0; c < channels.outputs; ++c)
            std::memcpy(outputs[c], region->output(c), bytes);
    return true;
}

void PluginChild::stop() {
    endReader();
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
