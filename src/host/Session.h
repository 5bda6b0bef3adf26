// One client's connection: its dispatcher, its audio staging, its settings
// and its plug-in. Messages arrive on the connection's worker thread; the
// plug-in's life cycle runs where its placement puts it (the GUI thread, or
// the command thread of a plug-in process).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "host/PluginSlot.h"
#include "host/SessionDefaults.h"
#include "host/SlotListener.h"
#include "shell/GuiThread.h"
#include "websocket/ConnectionHandler.h"

// The only place that turns what the plug-in did into the client's text.
class Session final : public ConnectionHandler,
                      public SlotListener,
                      public std::enable_shared_from_this<Session> {
public:
    static constexpr int32_t minBlockSize = 1;
    static constexpr int32_t maxBlockSize = 16384;
    static constexpr int32_t maxSampleRate = 768000;

    // closed runs on the connection's thread once it has ended; it ends
    // the session's plug-in.
    Session(GuiThread& gui, SessionDefaults& defaults, std::shared_ptr<MessageSink> sink,
            std::function<void(std::shared_ptr<Session>)> closed);

    void greet();
    bool onText(std::string_view message) override;
    bool onBinary(const std::vector<uint8_t>& message) override;
    void onClose() override;

    // The slot's life-cycle thread.
    void pluginLoaded(const bridge::LoadResult& result) override;
    void pluginState(const bridge::StateResult& state) override;
    void pluginCrashed(const std::string& reason) override;
    void pluginGaveUp(int crashes) override;

    // GUI thread.
    PluginSlot& plugin() { return *slot; }

private:
    void handleMidi(std::string_view list);
    void handleScan(std::string_view folder);
    void handleBufsize(std::string_view argument);
    void handleSampleRate(std::string_view argument);
    void setBlockSize(int32_t frames);

    GuiThread& gui;
    SessionDefaults& defaults;
    std::shared_ptr<MessageSink> sink;
    std::function<void(std::shared_ptr<Session>)> closed;
    // The worker thread's block size; the slot was made with the same one.
    uint32_t blockSize;
    std::shared_ptr<PluginSlot> slot;
    // Worker thread only.
    std::vector<float> inputStorage;
    std::vector<float> outputStorage;  // both channels, one after the other
    bool pendingSetState = false;
};
