// A session's plug-in in a plug-in process of its own. Audio goes through
// the child's shared block on the session's worker thread; everything else
// runs in order on the slot's command thread, which also brings a crashed
// or stuck plug-in back as it was.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bridge/SharedBlock.h"
#include "host/CommandQueue.h"
#include "host/PluginChild.h"
#include "host/PluginSlot.h"
#include "websocket/MessageSink.h"

class PluginProcessSlot final : public PluginSlot {
public:
    static constexpr int crashesBeforeGivingUp = 3;
    static constexpr std::chrono::seconds crashWindow{60};

    PluginProcessSlot(std::shared_ptr<MessageSink> sink, uint32_t sampleRate, uint32_t blockSize);
    ~PluginProcessSlot() override;
    PluginProcessSlot(const PluginProcessSlot&) = delete;
    PluginProcessSlot& operator=(const PluginProcessSlot&) = delete;

    void requestLoad(std::string path) override;
    void requestUnload() override;
    void requestEditor() override;
    void requestState() override;
    void requestRestore(const uint8_t* data, std::size_t size) override;
    void setBlockSize(uint32_t frames) override;
    void setSampleRate(uint32_t rate) override;
    void suspend() override;
    void resume() override;
    void queueMidi(const int32_t* words, std::size_t count) override;
    bool hasPlugin() override;
    Block process(float* const* inputs, float* const* outputs) override;

    // The editor lives, and is idled, in the plug-in process.
    bool hasOpenEditor() const override { return false; }
    void idleEditor() override {}
    void closeEditor() override {}
    void unload() override;

private:
    // Command thread.
    void load(const std::string& newPath);
    void unloadNow();
    void showEditor();
    void sendState();
    void restoreState(const std::string& blob);
    void setBypass(bool bypass);
    void applySetting(bridge::Command kind, uint32_t value);
    // Sends the command to the current child; on loss, queues the recovery.
    PluginChild::Answer ask(bridge::Command kind, const void* data = nullptr, std::size_t size = 0);
    void forward(const PluginChild::Answer& answer);
    // Takes the editor and on/off condition that the plug-in process reports.
    void note(const PluginChild::Answer& answer);
    void recover(const std::shared_ptr<PluginChild>& lostChild);
    bool crashedTooOften();
    void relaunch();
    void replaceChild(std::shared_ptr<PluginChild> next);
    std::shared_ptr<PluginChild> currentChild();

    // Any thread that finds the child lost.
    void lose(const std::shared_ptr<PluginChild>& lostChild);

    std::shared_ptr<MessageSink> sink;
    std::mutex childMutex;  // held only to copy or swap the pointer
    std::shared_ptr<PluginChild> child;
    // Set from a loss until the plug-in is back: blocks get empty replies.
    std::atomic<bool> relaunching{false};

    // Command thread only: what a relaunch restores.
    uint32_t sampleRate;
    uint32_t settledBlockSize;
    std::string path;
    std::string lastState;
    bool hasState = false;
    bool bypassed = false;
    bool editorOpen = false;
    std::vector<std::chrono::steady_clock::time_point> crashTimes;

    // Worker thread only.
    uint32_t blockSize;
    std::array<bridge::SharedMidiEvent, bridge::maxMidiEvents> midi{};
    uint32_t midiCount = 0;

    CommandQueue commands;  // last: its thread ends before the members it uses
};
