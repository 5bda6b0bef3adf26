// One running plug-in process as the program talks to it: its process, its
// command pipe and its shared block.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bridge/BlockSignal.h"
#include "bridge/CommandPipe.h"
#include "bridge/SharedRegion.h"
#include "host/ChildProcess.h"
#include "host/PluginSlot.h"

class PluginChild {
public:
    static constexpr int blockTimeoutMs = 2000;
    static constexpr int commandTimeoutMs = 30000;

    struct Answer {
        bool answered = false;  // false: the process died or went quiet
        uint32_t flags = 0;     // bridge::editorIsOpen
        std::vector<bridge::PipeMessage> messages;  // for the client, in order
    };

    // Null when the process cannot be started.
    static std::unique_ptr<PluginChild> start(uint32_t sampleRate, uint32_t blockSize);
    ~PluginChild();
    PluginChild(const PluginChild&) = delete;
    PluginChild& operator=(const PluginChild&) = delete;

    // One caller at a time (the slot's command thread).
    Answer command(bridge::Command kind, const void* data = nullptr, std::size_t size = 0);
    Answer command(bridge::Command kind, uint32_t value);

    // The session's worker thread. False when the process died or did not
    // answer within blockTimeoutMs; result is then untouched.
    bool process(float* const* inputs, float* const* outputs, uint32_t frames,
                 const bridge::SharedMidiEvent* midi, uint32_t midiCount, PluginSlot::Block& result);

    // Ends it as asked: the plug-in process unloads and leaves when its pipe
    // ends; one that takes too long is killed.
    void stop();
    // After it was lost: kills it if it still runs, and says why it was lost.
    std::string lossReason();

    // Set once, by whoever first finds the process lost or ends it on purpose.
    std::atomic<bool> lost{false};
    std::atomic<bool> retired{false};

private:
    PluginChild(std::unique_ptr<bridge::SharedRegion> region, std::unique_ptr<ChildProcess> process,
                int commandHandle);
    void noteSilence(const char* reason);

    std::unique_ptr<bridge::SharedRegion> region;
    std::unique_ptr<ChildProcess> processHandle;
    bridge::CommandPipe pipe;
    bridge::SpinBudget spin;  // the worker's, waiting for a block's answer
    std::mutex silenceMutex;
    std::string silence;  // why it was given up on while still running
};
