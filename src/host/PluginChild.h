// One running plug-in process as the program talks to it: its process, its
// command pipe and its shared block. A reader thread takes every message
// off the pipe: replies go to the request waiting for them, events to the
// handler given at start.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "bridge/BlockSignal.h"
#include "bridge/CommandPipe.h"
#include "bridge/PluginMessages.h"
#include "bridge/SharedRegion.h"
#include "host/ChildProcess.h"
#include "host/PluginSlot.h"

class PluginChild {
public:
    static constexpr int blockTimeoutMs = 2000;
    static constexpr int offlineBlockTimeoutMs = 30000;

    // What a block carries besides its audio.
    struct BlockExtras {
        const bridge::SharedMidiEvent* midi = nullptr;
        uint32_t midiCount = 0;
        const bridge::SharedParameterChange* changes = nullptr;
        uint32_t changeCount = 0;
        const bridge::SharedTransport* transport = nullptr;  // null: none given
    };
    static constexpr int commandTimeoutMs = 30000;

    // Called on the reader thread for each event the process sends.
    using EventHandler = std::function<void(const bridge::PluginEvent&)>;

    // A process of the plug-in process executable of that file name
    // (PluginHostChoice); null when it cannot be started.
    static std::unique_ptr<PluginChild> start(const std::string& executable, uint32_t sampleRate,
                                              uint32_t blockSize,
                                              const bridge::ChannelLayout& layout,
                                              EventHandler onEvent);
    ~PluginChild();
    PluginChild(const PluginChild&) = delete;
    PluginChild& operator=(const PluginChild&) = delete;

    // One caller at a time (the slot's command thread). Null when the
    // process died, went quiet for commandTimeoutMs, or answered with
    // anything but the request's reply (then it counts as lost).
    template <class Request>
    std::optional<typename Request::Reply> ask(const Request& request) {
        bridge::PipeMessage raw;
        expectReply();
        if (!bridge::send(pipe, request) || !awaitReply(raw)) return std::nullopt;
        auto reply = bridge::decodeAs<typename Request::Reply>(raw);
        if (!reply) noteFault("broke the plug-in process protocol");
        return reply;
    }

    // The session's worker thread: as many channels each way as its layout.
    // False when the process died or did not answer within the block limit;
    // result and midiOut are then untouched.
    bool process(const float* const* inputs, float* const* outputs, uint32_t frames,
                 const BlockExtras& extras, PluginSlot::Block& result, bridge::MidiOut& midiOut);
    const bridge::ChannelLayout& layout() const { return region->layout(); }
    // Any thread: how long a block may take (blockTimeoutMs, or
    // offlineBlockTimeoutMs while rendering offline).
    void setBlockLimit(int milliseconds) { blockLimitMs.store(milliseconds); }

    // What the process kept for a relaunch (bridge::KeptSettings): to be
    // read only once it has ended.
    const bridge::KeptSettings& keptSettings() const { return region->block().kept; }

    // Ends it as asked: the plug-in process unloads and leaves when its pipe
    // ends; one that takes too long is killed.
    void stop();
    // Ends it by force and waits until it is gone.
    void kill();
    // Why it was lost: what it did ("no answer within 2 s") or how it ended
    // ("signal 11"). Meant for after kill().
    std::string lossReason();

    // Set once, by whoever first finds the process lost or ends it on purpose.
    std::atomic<bool> lost{false};
    std::atomic<bool> retired{false};

    const std::string executable;

private:
    PluginChild(std::string executable, std::unique_ptr<bridge::SharedRegion> region,
                std::unique_ptr<ChildProcess> process, int commandHandle, EventHandler onEvent);
    // Waits for the one message that answers a request; the reader takes
    // one reply, and only while one is expected.
    void expectReply();
    bool awaitReply(bridge::PipeMessage& reply);
    void noteFault(const char* reason);
    // The reader thread, until the pipe ends.
    void readPipe();
    void endReader();

    std::unique_ptr<bridge::SharedRegion> region;
    std::unique_ptr<ChildProcess> processHandle;
    bridge::CommandPipe pipe;
    bridge::SpinBudget spin;  // the worker's, waiting for a block's answer
    std::mutex faultMutex;
    std::string fault;  // why it was given up on while still running
    EventHandler onEvent;
    std::mutex replyMutex;
    std::condition_variable replyArrived;
    std::deque<bridge::PipeMessage> replies;  // under replyMutex
    bool pipeEnded = false;                   // under replyMutex
    bool replyExpected = false;               // under replyMutex
    std::atomic<bool> closing{false};
    std::atomic<int> blockLimitMs{blockTimeoutMs};
    std::thread reader;  // last: started once the members above exist
};
