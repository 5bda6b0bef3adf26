// One client's connection: its dispatcher, its audio staging, its settings
// and its plug-in. Messages arrive on the connection's worker thread; the
// plug-in's life cycle runs where its placement puts it (the GUI thread, or
// the command thread of a plug-in process).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include <memory>
#include <nlohmann/json.hpp>
#include <string_view>
#include <vector>

#include "host/Catalogue.h"
#include "host/PluginSlot.h"
#include "host/ReplyOrder.h"
#include "host/ScanService.h"
#include "host/SessionDefaults.h"
#include "host/SlotListener.h"
#include "shell/GuiThread.h"
#include "websocket/ConnectionHandler.h"

// The only place that turns what the plug-in did into the client's text,
// in the protocol the client chose: the original text commands (Session.cpp)
// or protocol 2 (SessionVersion2.cpp). Messages arrive on the connection's
// thread and are handled under the dispatch lock; while a folder walk is
// pending, later ones wait in order and are handled by the scan thread
// after its reply.
class Session final : public ConnectionHandler,
                      public SlotListener,
                      public std::enable_shared_from_this<Session> {
public:
    static constexpr int32_t minBlockSize = 1;
    static constexpr int32_t maxBlockSize = 16384;
    static constexpr int32_t maxSampleRate = 768000;

    // Protocol 2's block header: frames, channels, record bytes, flags.
    static constexpr std::size_t blockHeaderBytes = 16;
    // Room in a reply for the records of what the plug-in sent during the
    // block (bridge::MidiOut at its fullest).
    static constexpr std::size_t maxOutRecordBytes = 12 * bridge::MidiOut::maxEvents +
                                                     bridge::MidiOut::maxSysexBytes +
                                                     3 * bridge::MidiOut::maxEvents;
    // A message queued behind a pending walk holds at most this much.
    static constexpr std::size_t maxDeferredBytes = 64u << 20;

    // ended runs on the connection's thread once it has ended; it ends the
    // session's plug-in.
    Session(GuiThread& gui, SessionDefaults& defaults, std::shared_ptr<MessageSink> sink,
            WireProtocol protocol, ScanService& scans, Catalogue& catalogue,
            std::function<void(std::shared_ptr<Session>)> ended);

    void greet();
    bool onText(std::string_view message) override;
    bool onBinary(const std::vector<uint8_t>& message) override;
    void onClose() override;

    // The slot's life-cycle thread.
    void pluginLoaded(const bridge::LoadResult& result) override;
    void pluginRelaunched(const bridge::LoadResult& result) override;
    void pluginState(const bridge::StateResult& state) override;
    void pluginCrashed(const std::string& reason) override;
    void pluginGaveUp(int crashes) override;
    // The slot's event pump or its process's reader.
    void pluginEvent(const bridge::PluginEvent& event) override;

    // GUI thread.
    PluginSlot& plugin() { return *slot; }

private:
    struct Deferred {
        bool binary;
        std::string bytes;
    };

    static constexpr std::size_t replyHeadroom = MessageSink::headroomBytes / sizeof(float);

    bool isCommand(std::string_view message) const;
    // Under the dispatch lock.
    bool handleText(std::string_view message);
    bool handleBinary(const uint8_t* data, std::size_t size);
    void defer(std::unique_lock<std::mutex>& lock, Deferred message);
    // The scan thread.
    void scanFinished(const std::string& reply);
    void setSampleRate(uint32_t rate);
    void allocateStaging();
    void startScan(const std::string& folder);
    void answerLoad(const bridge::LoadResult& result);
    void crashedVersion2(const std::string& reason);
    void sendScanReply(const std::string& reply);
    // Under the dispatch lock, as the rest; the replies may come from any thread.
    void greetVersion2();
    void handleRequest(std::string_view text);
    // Protocol 2's parameter and program operations (SessionParameters.cpp);
    // false when op is none of them.
    bool handleParameterRequest(uint64_t place, const nlohmann::json& id, const std::string& op,
                                const nlohmann::json& request);
    void sendParametersChanged();
    // Protocol 2's blocks (SessionBlocks.cpp).
    void handleBlockVersion2(const uint8_t* data, std::size_t size);
    void setLayout(const bridge::ChannelLayout& chosen);
    std::size_t blockBytes(std::size_t records) const;
    void restoreVersion2(const uint8_t* data, std::size_t size);
    void answerRequest(uint64_t place, const nlohmann::json& id, const nlohmann::json& fields = {});
    void refuseRequest(uint64_t place, const nlohmann::json& id, const char* code,
                       const std::string& message);
    // Protocol 2's catalogue (SessionCatalogue.cpp): asked under the
    // dispatch lock, answered on the catalogue thread, withdrawn at close.
    void askCatalogue(uint64_t place, const nlohmann::json& id, const std::string& folder,
                      bool rescan);
    void catalogueProgress(uint64_t place, std::size_t done, std::size_t total,
                           const std::string& path);
    void answerCatalogue(uint64_t place, const std::vector<CatalogueEntry>& entries);
    void withdrawCatalogues();
    void handleMidi(std::string_view list);
    void handleScan(std::string_view folder);
    void handleBufsize(std::string_view argument);
    void handleSampleRate(std::string_view argument);
    void setBlockSize(int32_t frames);

    GuiThread& gui;
    SessionDefaults& defaults;
    std::shared_ptr<MessageSink> sink;
    const WireProtocol protocol;
    ScanService& scans;
    Catalogue& catalogue;
    std::function<void(std::shared_ptr<Session>)> ended;
    std::mutex dispatch;
    // Under dispatch. The settings the slot was made with, too.
    uint32_t sampleRate;
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

    // Protocol 2. The place and id of the request a pending reply answers.
    struct Pending {
        uint64_t place;
        nlohmann::json id;
    };
    ReplyOrder replies;
    std::mutex pendingMutex;  // the slot's thread answers loads and states
    std::deque<Pending> pendingLoads;
    std::optional<Pending> pendingState;  // getState or setState
    uint32_t pendingStateBytes = 0;
    std::optional<Pending> pendingScan;
    // The catalogues asked for and not yet answered, by place in line, each
    // with the ticket that withdraws it.
    // (Its implicit constructor may throw only as any allocation may.)
    struct PendingCatalogue {  // NOLINT(bugprone-exception-escape)
        nlohmann::json id;
        uint64_t ticket = 0;
    };
    std::map<uint64_t, PendingCatalogue> pendingCatalogues;  // under pendingMutex
    // The room for the frame's header, then protocol 2's block header, room
    // for the records, and the output channels, per block size and layout.
    std::vector<uint8_t> blockReply;
    // Protocol 2: the channels the blocks carry, and their places in the
    // message and the reply (sized with the layout, so no block allocates).
    bridge::ChannelLayout layout;
    bool offline = false;
    std::vector<const float*> inputPointers = std::vector<const float*>(2);
    std::vector<float*> outputPointers = std::vector<float*>(2);
};
