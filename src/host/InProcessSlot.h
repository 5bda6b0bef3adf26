// A plug-in in this process. Loaded, asked for its state and shown on the
// GUI thread; configured and run block by block on the caller's thread. The
// plug-in process runs one of these too, without a listener: it calls the
// GUI-thread members itself and answers the program with their results.
// However its editor ends (the user closes it, closeEditor, unload, another
// load), the plug-in hears effEditClose while the editor's frame still exists.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "dsp/EditorSizeListener.h"
#include "dsp/VST2Plugin.h"
#include "host/ParameterEventPump.h"
#include "host/PluginEventListener.h"
#include "host/PluginSlot.h"
#include "host/SlotListener.h"
#include "shell/GuiThread.h"
#include "shell/WindowObserver.h"

class InProcessSlot final : public PluginSlot,
                            public WindowObserver,
                            public Vexa::DSP::EditorSizeListener,
                            public Vexa::DSP::OutgoingEventListener,
                            public std::enable_shared_from_this<InProcessSlot> {
public:
    // listener may be null when nothing is queued through request*;
    // parameterListener when nobody hears what the plug-in reports.
    InProcessSlot(GuiThread& gui, SlotListener* listener, PluginEventListener* parameterListener,
                  uint32_t sampleRate, uint32_t blockSize);
    ~InProcessSlot() override;
    InProcessSlot(const InProcessSlot&) = delete;
    InProcessSlot& operator=(const InProcessSlot&) = delete;

    // Any thread but the GUI thread: carried to the GUI thread.
    void requestLoad(std::string path, std::optional<int32_t> uniqueId) override;
    void requestUnload() override;
    void requestEditor() override;
    void requestState() override;
    void unloadAndWait() override;
    void requestRestore(const uint8_t* data, std::size_t size) override;

    // GUI thread.
    // uniqueId: which plug-in of a shell module.
    bridge::LoadResult load(const std::string& path,
                            std::optional<int32_t> uniqueId = std::nullopt);
    void unload() override;
    std::optional<bridge::StateResult> readState();
    void restoreState(const uint8_t* data, std::size_t size);
    void showEditor();
    void closeEditor() override;
    bool unloadsOnGuiThread() const override { return true; }
    void idleEditor() override;
    bool hasOpenEditor() const override { return editorFrame.load() != nullptr; }
    void onWindowClosed(WindowHandle window) override;

    // The caller's thread (the session's worker, or the plug-in process's).
    void setBlockSize(uint32_t frames) override;
    void setSampleRate(uint32_t rate) override;
    void setLayout(const bridge::ChannelLayout& layout) override;
    void setOffline(bool offline) override;
    void queueTransport(const Vexa::DSP::Transport& transport) override;
    const bridge::MidiOut& midiOut() const override { return *outgoing; }
    // The audio thread, during process.
    void onOutgoingEvent(uint32_t frame, const uint8_t* bytes, uint32_t size) override;
    void suspend() override;
    void resume() override;
    void queueMidi(const int32_t* words, std::size_t count) override;
    void queueParameter(uint32_t frame, int32_t index, float value) override;
    bool hasPlugin() override;
    bool isSuspended();
    // What every answer of the plug-in process reports.
    bridge::Condition condition();
    Block process(const float* const* inputs, float* const* outputs, uint32_t frames) override;

    // Any thread but the GUI thread: carried to it, and waited for. The
    // display probe keeps blocks out while the value is changed and back.
    std::vector<bridge::ParameterInfo> parameters() override;
    std::optional<std::string> parameterDisplay(int32_t index, float value) override;
    bool setParameter(int32_t index, float value) override;
    std::optional<bridge::ProgramsResult> programs() override;
    bool setProgram(int32_t index) override;
    bool setProgramName(const std::string& name) override;

    // Any thread.
    void onEditorSizeRequest(int32_t width, int32_t height) override;

private:
    void tearDown(std::unique_ptr<Vexa::DSP::VST2Plugin> old);
    // The pump's thread: what the plug-in shows for the event's parameter.
    void describe(bridge::PluginEvent& event);
    // Runs work with the plug-in on the GUI thread; false without one.
    template <class Work>
    bool withPlugin(Work work);
    void openEditor();
    std::string editorTitle();

    GuiThread& gui;
    SlotListener* const listener;
    // Held around every worker-side use of the wrapper and around the GUI
    // thread's swap of it, so the worker never runs inside a wrapper that is
    // going away. Never held through a module load.
    std::mutex pluginMutex;
    std::unique_ptr<Vexa::DSP::VST2Plugin> plugin;
    uint32_t sampleRate;           // under pluginMutex
    uint32_t blockSize;            // under pluginMutex
    bridge::ChannelLayout layout;  // under pluginMutex
    bool offline = false;          // under pluginMutex
    std::unique_ptr<bridge::MidiOut> outgoing = std::make_unique<bridge::MidiOut>();
    std::string path;  // GUI thread
    // Changed on the GUI thread only; read by size requests from any thread.
    std::atomic<WindowHandle> editorFrame{nullptr};
    // Null without a parameter listener. Outlives every wrapper it is given to.
    std::unique_ptr<ParameterEventPump> pump;
};
