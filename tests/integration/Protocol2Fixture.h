// A program with one client of protocol 2 besides the fixture's own, with
// the steps of its tests: requests with ids, blocks with records.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "HostFixture.h"

namespace testing_support {

class Protocol2Test : public PluginTest {
public:
    using json = nlohmann::json;
    static constexpr uint32_t frames = 64;

protected:
    void SetUp() override {
        PluginTest::SetUp();
        v2.offerSubprotocols("chat, corvel.2");
        ASSERT_TRUE(v2.connect(program->port(), 20000));
        hello = json::parse(v2.receiveText(20000).value_or("null"));
    }

    json ask(json request) {
        request["id"] = ++lastId;
        return answerTo(request.dump());
    }
    // The reply, past any events, which are kept.
    json answerTo(const std::string& text) {
        if (!v2.sendText(text)) return nullptr;
        return nextReply();
    }
    json nextReply() {
        for (;;) {
            json message = json::parse(v2.receiveText(10000).value_or("null"), nullptr, false);
            if (!message.is_object() || !message.contains("event")) return message;
            events.push_back(message.value("event", ""));
            eventLog.push_back(message);
        }
    }
    void expectError(const json& reply, const std::string& code) {
        EXPECT_EQ(reply.value("ok", true), false) << reply;
        EXPECT_EQ(reply["error"].value("code", ""), code) << reply;
        EXPECT_FALSE(reply["error"].value("message", "").empty()) << reply;
    }

    // The next message, keeping the events met on the way; nothing when the
    // next is not of opcode (1 text, 2 binary) or nothing came for 10 s.
    std::optional<std::string> next(int opcode) {
        for (;;) {
            auto message = v2.receive(10000);
            if (!message) return std::nullopt;
            if (message->opcode == 1) {
                json parsed = json::parse(message->payload, nullptr, false);
                if (parsed.contains("event")) {
                    events.push_back(parsed.value("event", ""));
                    eventLog.push_back(parsed);
                    if (opcode != 1) continue;
                }
            }
            if (message->opcode != opcode) return std::nullopt;
            return message->payload;
        }
    }

    // Events until one matches, or nothing for 10 s (false then).
    template <class Match>
    bool awaitEvent(Match match) {
        for (std::size_t seen = 0;;) {
            for (; seen < eventLog.size(); ++seen)
                if (match(eventLog[seen])) return true;
            if (!next(1)) return false;
        }
    }
    // A block: header, MIDI records at the given frames, then two channels.
    static std::string blockWith(const std::vector<uint32_t>& midiFrames, float left, float right) {
        std::string records;
        for (uint32_t at : midiFrames) records += midiRecord(at, 60);
        return blockOf(frames, records, left, right);
    }
    static std::string midiRecord(uint32_t at, uint8_t key) {
        const uint8_t record[12] = {1, 0, 8,    0,   uint8_t(at), uint8_t(at >> 8),
                                    0, 0, 0x90, key, 100,         0};
        return std::string(reinterpret_cast<const char*>(record), sizeof record);
    }
    static std::string blockOf(uint32_t length, const std::string& records, float left,
                               float right) {
        const uint32_t header[4] = {length, 2, uint32_t(records.size()), 0};
        std::string block(reinterpret_cast<const char*>(header), sizeof header);
        block += records;
        std::vector<float> samples(2 * length, right);
        std::fill_n(samples.begin(), length, left);
        block.append(reinterpret_cast<const char*>(samples.data()), samples.size() * sizeof(float));
        return block;
    }
    // The reply's header words, and its first and last samples when it has audio.
    struct Reply {
        uint32_t frames = 0, channels = 0, recordBytes = 0, status = 0;
        float first = 0, last = 0;
    };
    Reply exchange(const std::string& block) {
        Reply reply;
        const std::string bytes = v2.sendBinary(block) ? v2.receiveBinary(10000).value_or("") : "";
        if (bytes.size() < 16) return reply;
        std::memcpy(&reply.frames, bytes.data(), 4);
        std::memcpy(&reply.channels, bytes.data() + 4, 4);
        std::memcpy(&reply.recordBytes, bytes.data() + 8, 4);
        if (reply.recordBytes >= 8) std::memcpy(&reply.status, bytes.data() + 20, 4);
        if (bytes.size() == 16 + 8 * frames) {
            std::memcpy(&reply.first, bytes.data() + 16, 4);
            std::memcpy(&reply.last, bytes.data() + bytes.size() - 4, 4);
        }
        return reply;
    }

    WsClient v2;
    json hello;
    std::vector<std::string> events;  // their names
    std::vector<json> eventLog;       // the events whole
    int lastId = 0;
};

}  // namespace testing_support
