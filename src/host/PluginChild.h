// One running plug-in process as the program talks to it: its process, its
// command pipe and its shared block.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "bridge/BlockSignal.h"
#include "bridge/CommandPipe.h"
#include "bridge/PluginMessages.h"
#include "bridge/SharedRegion.h"
#include "host/ChildProcess.h"
#include "host/PluginSlot.h"

class PluginChild {
public:
    static constexpr int blockTimeoutMs = 2000;
    static constexpr int commandTimeoutMs = 30000;

    // A process of the plug-in process executable of that file name
    // (PluginHostChoice); null when it cannot be started.
    static std::unique_ptr<PluginChild> start(const std::string& executable, uint32_t sampleRate,
                                              uint32_t blockSize);
    ~PluginChild();
    PluginChild(const PluginChild&) = delete;
    PluginChild& operator=(const PluginChild&) = delete;

    // One caller at a time (the slot's command thread). Null when the
    // process died, went quiet for commandTimeoutMs, or answered with
    // anything but the request's reply (then it counts as lost).
    template <class Request>
    std::optional<typename Request::Reply> ask(const Request& request) {
        bridge::PipeMessage raw;
        if (!bridge::send(pipe, request) || !awaitReply(raw)) return std::nullopt;
        auto reply = bridge::decodeAs<typename Request::Reply>(raw);
        if (!reply) noteFault("broke the plug-in process protocol");
        return reply;
    }

    // The session's worker thread. False when the process died or did not
    // answer within blockTimeoutMs; result is then untouched.
    bool process(const float* const* inputs, float* const* outputs, uint32_t frames,
                 const bridge::SharedMidiEvent* midi, uint32_t midiCount,
                 PluginSlot::Block& result);

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
                std::unique_ptr<ChildProcess> process, int commandHandle);
    // Waits for the one message that answers a request.
    bool awaitReply(bridge::PipeMessage& reply);
    void noteFault(const char* reason);

    std::unique_ptr<bridge::SharedRegion> region;
    std::unique_ptr<ChildProcess> processHandle;
    bridge::CommandPipe pipe;
    bridge::SpinBudget spin;  // the worker's, waiting for a block's answer
    std::mutex faultMutex;
    std::string fault;  // why it was given up on while still running
};
