// Stand-ins for what a session drives, so the fuzzer runs the real
// dispatcher (Session) without a plug-in, a GUI thread or a folder walk
// (the scan service and its thread are the program's own).
// SessionDoubles.cpp replaces the real placement and scan at link time.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/PluginSlot.h"
#include "shell/GuiThread.h"
#include "websocket/MessageSink.h"

// What the session asked of its plug-in during one message, and the state
// of the stand-in plug-in, which carries over between messages.
struct SlotJournal {
    std::vector<std::string> calls;  // names of the slot's methods, in order
    std::vector<std::array<int32_t, 4>> midi;
    std::vector<std::size_t> midiCounts;
    std::optional<uint32_t> sampleRate;
    std::string loadPath;  // kept: the stand-in's state is the path it loaded
    std::vector<uint8_t> restored;
    std::optional<uint32_t> processedFrames;

    bool plugin = false;  // a path was loaded and not unloaded since
    bool suspended = false;
    uint32_t frames = 0;  // the block size the slot was last told

    // Forgets the last message's calls, keeps the plug-in's state.
    void startMessage() {
        SlotJournal next;
        next.plugin = plugin;
        next.suspended = suspended;
        next.frames = frames;
        next.loadPath = std::move(loadPath);
        *this = std::move(next);
    }
};

// The only GuiThread of the fuzz target: runs nothing, and keeps the
// journal that makePluginSlot's stand-in writes to.
class FuzzGui final : public GuiThread {
public:
    bool post(Task) override { return false; }
    bool isCurrent() const override { return false; }
    void quit() override { ++quits; }

    SlotJournal journal;
    int quits = 0;
};

// Replies arrive on the fuzzer's thread, and a scan's on the scan thread.
class FuzzSink final : public MessageSink {
public:
    void sendText(std::string_view text) override {
        std::lock_guard<std::mutex> lock(mutex);
        texts.emplace_back(text);
        arrived.notify_all();
    }
    void sendBinary(const void*, std::size_t length) override {
        std::lock_guard<std::mutex> lock(mutex);
        binaries.push_back(length);
    }
    void sendBinaryInPlace(uint8_t* payload, std::size_t length) override {
        sendBinary(payload, length);
    }
    // Waits until some text has arrived.
    void awaitText() {
        std::unique_lock<std::mutex> lock(mutex);
        arrived.wait(lock, [&] { return !texts.empty(); });
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex);
        texts.clear();
        binaries.clear();
    }

    // Read only while no reply can come.
    std::vector<std::string> texts;
    std::vector<std::size_t> binaries;  // their lengths

private:
    std::mutex mutex;
    std::condition_variable arrived;
};

// The stand-in scan's reply: the folder it was given, so a check can see it.
std::string fuzzScanReply(const std::string& folder);
