// The host controller: owns the control channel and the loaded plug-in,
// interprets every message of the client and runs the plug-in's life cycle.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "dsp/VST2Plugin.h"
#include "ipc/IPC.h"
#include "ipc/IPCHandler.h"
#include "shell/WindowObserver.h"

class VST2Host final : public IPCHandler, public WindowObserver {
public:
    static constexpr int32_t minBlockSize = 1;
    static constexpr int32_t maxBlockSize = 16384;

    // Sets the block size, then opens the channel on 127.0.0.1:port; throws
    // CivetException when the port cannot be bound.
    explicit VST2Host(uint16_t port = IPC::defaultPort);
    ~VST2Host();
    VST2Host(const VST2Host&) = delete;
    VST2Host& operator=(const VST2Host&) = delete;

    // IPCHandler, on the channel's worker thread.
    bool onBinary(const std::vector<uint8_t>& message) override;
    bool onText(std::string message, std::string& reply) override;
    bool onReady() override;

    // WindowObserver, on the GUI thread.
    void onWindowClosed(WindowHandle window) override;

    // Settings, on the worker thread.
    void setBlockSize(int32_t frames);
    void setSampleRate(int32_t rate);

    // GUI-thread life cycle.
    bool loadPlugin(std::string path);
    bool unloadPlugin();
    void sendState();
    void restoreState(const uint8_t* data, uint64_t size);
    void showGui();
    void idleEditor();  // periodic editor idle while an editor is open
    bool hasOpenEditor() const;
    void resizeEditorIfCurrent(int32_t width, int32_t height, WindowHandle frame);

    // Forwarders to the GUI-thread dispatch.
    void requestLoad(std::string path);
    void requestUnload();
    void requestState();
    void requestRestore(const uint8_t* data, uint64_t size);
    void requestShowGui();
    void requestQuit();

    // Shutdown, on the GUI thread: stops the channel before anything else.
    void stopChannel();

    Vexa::DSP::VST2Plugin* plugin = nullptr;
    IPC ipc;
    float* inputChannels[2] = {nullptr, nullptr};
    float* outputStorage = nullptr;
    float* outputChannels[2] = {nullptr, nullptr};
    bool pendingSetState = false;

private:
    void handleBinary(const std::vector<uint8_t>& message);
    void handleMidi(const std::string& message);
    void handleScan(const std::string& message, std::string& reply);
    void handleBufsize(const std::string& message, std::string& reply);
    void openEditor();
    void destroyPlugin();
    void freeStagingArrays();

    // Held around every worker-side use of the wrapper and around the GUI
    // thread's swap and teardown of it, so the worker never runs inside a
    // wrapper that is going away.
    std::mutex pluginMutex;
};
