// A session's plug-in in a plug-in process of its own. Audio goes through
// the child's shared block on the session's worker thread; everything else
// runs in order on the slot's command thread, which also brings a crashed
// or stuck plug-in back as it was.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "bridge/SharedBlock.h"
#include "host/CommandQueue.h"
#include "host/CrashPolicy.h"
#include "host/PluginChild.h"
#include "host/PluginSlot.h"
#include "host/RestoreMirror.h"
#include "host/SlotListener.h"

class PluginProcessSlot final : public PluginSlot {
public:
    // What a plug-in has to end when its session closes or the program
    // quits; all sessions' plug-ins get it at once.
    static constexpr int unloadGraceMs =
        5000;  // under Wine a plug-in process takes seconds to leave

    PluginProcessSlot(SlotListener& listener, uint32_t sampleRate, uint32_t blockSize);
    ~PluginProcessSlot() override;
    PluginProcessSlot(const PluginProcessSlot&) = delete;
    PluginProcessSlot& operator=(const PluginProcessSlot&) = delete;

    void requestLoad(std::string path, std::optional<int32_t> uniqueId) override;
    void requestUnload() override;
    void requestEditor() override;
    void requestState() override;
    void unloadAndWait() override;
    void requestRestore(const uint8_t* data, std::size_t size) override;
    void setBlockSize(uint32_t frames) override;
    void setSampleRate(uint32_t rate) override;
    void setLayout(const bridge::ChannelLayout& layout) override;
    void setOffline(bool offline) override;
    void queueTransport(const Vexa::DSP::Transport& transport) override;
    const bridge::MidiOut& midiOut() const override { return *outgoing; }
    void suspend() override;
    void resume() override;
    void queueMidi(const int32_t* words, std::size_t count) override;
    void queueParameter(uint32_t frame, int32_t index, float value) override;
    std::vector<bridge::ParameterInfo> parameters() override;
    std::optional<std::string> parameterDisplay(int32_t index, float value) override;
    bool setParameter(int32_t index, float value) override;
    std::optional<bridge::ProgramsResult> programs() override;
    bool setProgram(int32_t index) override;
    bool setProgramName(const std::string& name) override;
    bool hasPlugin() override;
    Block process(const float* const* inputs, float* const* outputs, uint32_t frames) override;

    // The editor lives, and is idled, in the plug-in process.
    bool hasOpenEditor() const override { return false; }
    void idleEditor() override {}
    void closeEditor() override {}
    // Asks the plug-in process to end, and kills it after unloadGraceMs.
    bool unloadsOnGuiThread() const override { return false; }
    void unload() override;
    // ChildProcess::shutdownGraceMs from now at most.
    void hurry() override;

private:
    // Command thread.
    void load(const std::string& newPath, std::optional<int32_t> uniqueId);
    void unloadNow();
    std::optional<bridge::StateResult> readState();
    // Asks the current child, keeps the condition its reply reports, and on
    // loss queues the recovery; null then, or when there is no child.
    template <class Request>
    std::optional<typename Request::Reply> ask(const Request& request);
    // As ask, for a request that only a loaded plug-in can serve.
    template <class Request>
    void askLoaded(const Request& request);
    // Asks a loaded plug-in on the command thread and waits for its reply.
    template <class Request>
    std::optional<typename Request::Reply> askAndWait(const Request& request);
    void recover(const std::shared_ptr<PluginChild>& lostChild);
    void relaunch();
    // Starts a process and brings the plug-in back into it as the mirror
    // says. Null when no process could be started (the relaunch ends), or
    // it was lost on the way (its recovery is queued).
    std::optional<bridge::LoadResult> bringBack();
    // Moves the plug-in, as it is, to a process laid out for mirror.layout.
    void reseat();
    // Takes over what a lost process kept; brings it back to a new one.
    void keepSettings(const bridge::KeptSettings& kept);
    bool restoreSettings();
    std::shared_ptr<PluginChild> startChild();
    void replaceChild(std::shared_ptr<PluginChild> next);
    std::shared_ptr<PluginChild> currentChild();

    // Any thread that finds the child lost.
    void lose(const std::shared_ptr<PluginChild>& lostChild);

    SlotListener& listener;
    std::mutex childMutex;  // held only to copy or swap the pointer
    std::shared_ptr<PluginChild> child;
    // Set from a loss until the plug-in is back: blocks get empty replies.
    std::atomic<bool> relaunching{false};

    // Command thread only.
    RestoreMirror mirror;
    CrashPolicy crashes;
    std::string hostExecutable;  // the plug-in process that runs the module in mirror.path

    // Worker thread only.
    uint32_t blockSize;
    bridge::ChannelLayout layout;
    bridge::SharedTransport transport{};
    bool transportQueued = false;
    std::unique_ptr<bridge::MidiOut> outgoing = std::make_unique<bridge::MidiOut>();
    std::array<bridge::SharedMidiEvent, bridge::maxMidiEvents> midi{};
    uint32_t midiCount = 0;
    std::array<bridge::SharedParameterChange, bridge::maxParameterChanges> changes{};
    uint32_t changeCount = 0;

    CommandQueue commands;  // last: its thread ends before the members it uses
};
