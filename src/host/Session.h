// One client's connection: its dispatcher, its audio staging, its settings
// and its plug-in. Messages arrive on the connection's worker thread; the
// plug-in's life cycle runs where its placement puts it (the GUI thread, or
// the command thread of a plug-in process).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <memory>
#include <string_view>
#include <vector>

#include "host/PluginSlot.h"
#include "host/ScanService.h"
#include "host/SessionDefaults.h"
#include "host/SlotListener.h"
#include "shell/GuiThread.h"
#include "websocket/ConnectionHandler.h"

// The only place that turns what the plug-in did into the client's text.
// Messages arrive on the connection's thread and are handled under the
// dispatch lock; while a folder walk is pending, later ones wait in order
// and are handled by the scan thread after its reply.
class Session final : public ConnectionHandler,
                      public SlotListener,
                      public std::enable_shared_from_this<Session> {
public:
    static constexpr int32_t minBlockSize = 1;
    static constexpr int32_t maxBlockSize = 16384;
    static constexpr int32_t maxSampleRate = 768000;

    // A message queued behind a pending walk holds at most this much.
    static constexpr std::size_t maxDeferredBytes = 64u << 20;

    // ended runs on the connection's thread once it has ended; it ends the
    // session's plug-in.
    Session(GuiThread& gui, SessionDefaults& defaults, std::shared_ptr<MessageSink> sink,
            ScanService& scans, std::function<void(std::shared_ptr<Session>)> ended);

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
    struct Deferred {
        bool binary;
        std::string bytes;
    };

    static constexpr std::size_t replyHeadroom = MessageSink::headroomBytes / sizeof(float);

    static bool isCommand(std::string_view message);
    // Under the dispatch lock.
    bool handleText(std::string_view message);
    bool handleBinary(const uint8_t* data, std::size_t size);
    void defer(std::unique_lock<std::mutex>& lock, Deferred message);
    // The scan thread.
    void scanFinished(const std::string& reply);
    void handleMidi(std::string_view list);
    void handleScan(std::string_view message);
    void handleBufsize(std::string_view message);
    void handleSampleRate(std::string_view argument);
    void setBlockSize(int32_t frames);

    GuiThread& gui;
    SessionDefaults& defaults;
    std::shared_ptr<MessageSink> sink;
    ScanService& scans;
    std::function<void(std::shared_ptr<Session>)> ended;
    std::mutex dispatch;
    // Under dispatch. The block size the slot was made with, too.
    uint32_t blockSize;
    std::shared_ptr<PluginSlot> slot;
    // The reply as it leaves: the room for its header, then both channels
    // one after the other. Sized with the block, so no block allocates.
    std::vector<float> replyStorage;
    bool pendingSetState = false;
    uint64_t scanTicket = 0;  // a walk is pending
    std::deque<Deferred> deferred;
    std::size_t deferredBytes = 0;
    bool closed = false;
    std::condition_variable turn;  // a walk ended, or the connection
};
