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
#include "websocket/ConnectionHandler.h"
#include "shell/GuiThread.h"

class Session final : public ConnectionHandler, public std::enable_shared_from_this<Session> {
public:
    static constexpr int32_t minBlockSize = 1;
    static constexpr int32_t maxBlockSize = 16384;
    static constexpr int32_t maxSampleRate = 768000;

    // ended runs on the GUI thread once the session's plug-in is gone.
    Session(GuiThread& gui, SessionDefaults& defaults, std::shared_ptr<MessageSink> sink,
            std::function<void(Session&)> ended);

    void greet();
    bool onText(std::string_view message) override;
    bool onBinary(const std::vector<uint8_t>& message) override;
    void onClose() override;

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
    std::function<void(Session&)> ended;
    std::shared_ptr<PluginSlot> slot;
    // Worker thread only.
    uint32_t blockSize = 0;
    std::vector<float> inputStorage;
    std::vector<float> outputStorage;  // both channels, one after the other
    bool pendingSetState = false;
};
