// One session's plug-in. Loaded, asked for its state and shown on the GUI
// thread; configured and run block by block on the session's worker thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "dsp/EditorSizeListener.h"
#include "dsp/VST2Plugin.h"
#include "ipc/MessageSink.h"
#include "shell/GuiThread.h"
#include "shell/WindowObserver.h"

class PluginSlot final : public WindowObserver,
                         public Vexa::DSP::EditorSizeListener,
                         public std::enable_shared_from_this<PluginSlot> {
public:
    enum class Block { noPlugin, notProcessed, processed };

    PluginSlot(GuiThread& gui, std::shared_ptr<MessageSink> sink, uint32_t sampleRate,
               uint32_t blockSize);
    ~PluginSlot();
    PluginSlot(const PluginSlot&) = delete;
    PluginSlot& operator=(const PluginSlot&) = delete;

    // GUI thread.
    void load(std::string path);
    void unload();
    void sendState();
    void restoreState(const uint8_t* data, std::size_t size);
    void showEditor();
    void closeEditor();
    void idleEditor();
    bool hasOpenEditor() const { return editorFrame.load() != nullptr; }
    void onWindowClosed(WindowHandle window) override;

    // The session's worker thread.
    void setBlockSize(uint32_t frames);
    void setSampleRate(uint32_t rate);
    void suspend();
    void resume();
    void queueMidi(const int32_t* words, std::size_t count);
    bool hasPlugin();
    // Runs one block of blockSize frames through the plug-in into outputs.
    Block process(float* const* inputs, float* const* outputs);

    // Any thread.
    void onEditorSizeRequest(int32_t width, int32_t height) override;

private:
    void tearDown(std::unique_ptr<Vexa::DSP::VST2Plugin> old);
    void openEditor();
    std::string editorTitle();

    GuiThread& gui;
    std::shared_ptr<MessageSink> sink;
    // Held around every worker-side use of the wrapper and around the GUI
    // thread's swap of it, so the worker never runs inside a wrapper that is
    // going away. Never held through a module load.
    std::mutex pluginMutex;
    std::unique_ptr<Vexa::DSP::VST2Plugin> plugin;
    uint32_t sampleRate;  // under pluginMutex
    uint32_t blockSize;   // under pluginMutex
    std::string path;           // GUI thread
    // Changed on the GUI thread only; read by size requests from any thread.
    std::atomic<WindowHandle> editorFrame{nullptr};
};
