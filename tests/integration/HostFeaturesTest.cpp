// What a host offers past stereo blocks, through the real program and its
// plug-in process: chosen channels each way, the transport, MIDI and SysEx
// from the plug-in, channels changed by the plug-in, and offline rendering.
#include "Protocol2Fixture.h"

using namespace testing_support;
using nlohmann::json;

namespace {

constexpr uint32_t length = 256;

struct Record {
    uint16_t type;
    std::string body;
};

// A reply split into its records and its channels.
struct Heard {
    uint32_t channels = 0;
    std::vector<Record> records;
    std::vector<std::vector<float>> audio;
    float at(uint32_t channel, uint32_t frame = 0) const { return audio.at(channel).at(frame); }
};

std::string transportRecord(bool playing, double tempo, double position, double samples) {
    uint8_t record[68] = {3, 0, 64, 0};
    const uint32_t words[4] = {playing ? 1u : 0u, 3, 4, 0};
    const double numbers[6] = {tempo, position, 0.0, 0.0, 0.0, samples};
    std::memcpy(record + 4, words, sizeof words);
    std::memcpy(record + 20, numbers, sizeof numbers);
    return std::string(reinterpret_cast<const char*>(record), sizeof record);
}

class HostFeaturesTest : public Protocol2Test {
protected:
    void SetUp() override {
        Protocol2Test::SetUp();
        ASSERT_TRUE(ask({{"op", "configure"}, {"blockSize", length}, {"sampleRate", 48000}})
                        .value("ok", false));
    }

    json loadWith(const std::string& plugin, json fields = json::object()) {
        fields["op"] = "load";
        fields["path"] = testPluginPath(plugin);
        return ask(fields);
    }

    // Sends a block whose channel c holds levels[c] throughout, with the
    // records; keeps the events met on the way.
    Heard play(const std::vector<float>& levels, const std::string& records = {}) {
        const uint32_t header[4] = {length, uint32_t(levels.size()), uint32_t(records.size()), 0};
        std::string block(reinterpret_cast<const char*>(header), sizeof header);
        block += records;
        for (const float level : levels) {
            const std::vector<float> channel(length, level);
            block.append(reinterpret_cast<const char*>(channel.data()), 4 * length);
        }
        Heard heard;
        if (!v2.sendBinary(block)) return heard;
        std::optional<WsMessage> message;
        while ((message = v2.receive(35000)) && message->opcode == 1) {
            const json event = json::parse(message->payload, nullptr, false);
            eventLog.push_back(event);
        }
        if (!message || message->payload.size() < 16) return heard;
        const std::string& bytes = message->payload;
        uint32_t words[3] = {};
        std::memcpy(words, bytes.data(), sizeof words);
        heard.channels = words[1];
        std::size_t at = 16;
        while (at + 4 <= 16 + words[2]) {
            uint16_t type = 0, size = 0;
            std::memcpy(&type, bytes.data() + at, 2);
            std::memcpy(&size, bytes.data() + at + 2, 2);
            heard.records.push_back({type, bytes.substr(at + 4, size)});
            at += 4 + ((size + 3u) & ~3u);
        }
        for (uint32_t c = 0; c < heard.channels && at + 4 * length <= bytes.size(); ++c) {
            heard.audio.emplace_back(length);
            std::memcpy(heard.audio.back().data(), bytes.data() + at, 4 * length);
            at += 4 * length;
        }
        return heard;
    }
};

uint32_t frameOf(const Record& record) {
    uint32_t frame = 0;
    std::memcpy(&frame, record.body.data(), 4);
    return frame;
}

}  // namespace

TEST_F(HostFeaturesTest, TheTransportAndProcessLevelAreHeardAndAdvanceWithoutARecord) {
    ASSERT_TRUE(loadWith("test_transport", {{"outputs", 4}}).value("ok", false));
    // Stopped at 120 BPM from 0; the sample position advances block by block.
    Heard heard = play({0, 0});
    ASSERT_EQ(heard.channels, 4u);
    EXPECT_FLOAT_EQ(heard.at(0), 0.12f);
    EXPECT_FLOAT_EQ(heard.at(1), 0.0f);
    EXPECT_FLOAT_EQ(heard.at(2), 0.0f);
    EXPECT_FLOAT_EQ(heard.at(3), 0.2f) << "real-time";
    EXPECT_FLOAT_EQ(play({0, 0}).at(2), length / 1e6f);
    // The workstation's transport, then its continuation while playing.
    heard = play({0, 0}, transportRecord(true, 90.0, 8.0, 48000.0));
    EXPECT_FLOAT_EQ(heard.at(0), 0.09f);
    EXPECT_FLOAT_EQ(heard.at(1), 0.08f);
    EXPECT_FLOAT_EQ(heard.at(2), 0.048f);
    heard = play({0, 0});
    EXPECT_FLOAT_EQ(heard.at(1), float((8.0 + length / 48000.0 * 1.5) / 100.0));
    EXPECT_FLOAT_EQ(heard.at(2), float((48000.0 + length) / 1e6));

    // Offline: the level says so, and a block of 2.5 s is waited for.
    const json offline = ask({{"op", "configure"}, {"offline", true}});
    EXPECT_TRUE(offline.value("offline", false)) << offline;
    EXPECT_FLOAT_EQ(play({0, 0}, midiRecord(0, 101)).at(3), 0.4f);
    EXPECT_EQ(std::count_if(eventLog.begin(), eventLog.end(),
                            [](const json& e) { return e.value("event", "") == "crashed"; }),
              0);
    ask({{"op", "configure"}, {"offline", false}});
    EXPECT_FLOAT_EQ(play({0, 0}).at(3), 0.2f);
    // In real time the same block is a hang.
    play({0, 0}, midiRecord(0, 101));
    ask({{"op", "programs"}});  // answered after the loss is told
    EXPECT_TRUE(std::any_of(eventLog.begin(), eventLog.end(), [](const json& e) {
        return e.value("reason", "") == "no answer within 2 s";
    }));
}

TEST_F(HostFeaturesTest, MidiAndSysExFromThePluginComeBackOnTheirFrames) {
    ASSERT_TRUE(loadWith("test_arpeggiator").value("ok", false));
    const Heard heard = play({0.5f, 0.5f}, midiRecord(10, 60));
    std::vector<std::string> told;
    for (const Record& record : heard.records) {
        if (record.type == 4)
            told.push_back("note " + std::to_string(uint8_t(record.body[5])) + " at " +
                           std::to_string(frameOf(record)));
        if (record.type == 6)
            told.push_back("sysex " + std::to_string(record.body.size() - 4) + " bytes at " +
                           std::to_string(frameOf(record)) +
                           (record.body.substr(4) == "\xF0\x7D\x01\x3C\xF7" ? " as sent" : ""));
    }
    EXPECT_EQ(told, (std::vector<std::string>{"note 60 at 10", "note 64 at 26", "note 67 at 42",
                                              "sysex 5 bytes at 10 as sent"}));
    EXPECT_FLOAT_EQ(heard.at(0), 0.5f);
}

TEST_F(HostFeaturesTest, ChosenChannelsCarryASideChainAndEveryOutputWithNames) {
    const json loaded = loadWith("test_sidechain", {{"inputs", 4}, {"outputs", 4}});
    ASSERT_TRUE(loaded.value("ok", false)) << loaded;
    EXPECT_EQ(loaded["layout"], json({{"inputs", 4}, {"outputs", 4}}));
    EXPECT_EQ(loaded["inputPins"][2], json({{"label", "Sidechain L"}, {"stereo", true}}));
    EXPECT_EQ(loaded["inputPins"][3], json({{"label", "Sidechain R"}, {"stereo", false}}));
    Heard heard = play({0.1f, 0.2f, 0.3f, 0.4f});
    ASSERT_EQ(heard.channels, 4u);
    EXPECT_FLOAT_EQ(heard.at(0), 0.4f);
    EXPECT_FLOAT_EQ(heard.at(1), 0.6f);
    EXPECT_FLOAT_EQ(heard.at(3, length - 1), 0.4f);
    EXPECT_EQ(play({0.1f, 0.2f}).channels, 0u) << "two channels where four are chosen";

    const json multi = loadWith("test_multiout", {{"inputs", 2}, {"outputs", 16}});
    ASSERT_TRUE(multi.value("ok", false)) << multi;
    heard = play({0, 0});
    ASSERT_EQ(heard.channels, 16u);
    for (uint32_t c = 0; c < 16; ++c) EXPECT_FLOAT_EQ(heard.at(c, length - 1), (c + 1) / 100.0f);
    expectError(ask({{"op", "configure"}, {"outputs", 129}}), "bad-request");
}

TEST_F(HostFeaturesTest, ANewLayoutKeepsThePluginAsItWasAndItsOwnChangesAreTold) {
    ASSERT_TRUE(loadWith("test_parameters").value("ok", false));
    ASSERT_TRUE(ask({{"op", "setParameter"}, {"index", 0}, {"value", 0.25}}).value("ok", false));
    ASSERT_TRUE(ask({{"op", "configure"}, {"outputs", 4}}).value("ok", false));
    Heard heard = play({1, 1});
    ASSERT_EQ(heard.channels, 4u);
    EXPECT_FLOAT_EQ(heard.at(0), 0.25f) << "the gain went with the move";
    EXPECT_FLOAT_EQ(heard.at(3), 0.0f);
    EXPECT_FALSE(std::any_of(eventLog.begin(), eventLog.end(),
                             [](const json& e) { return e.value("event", "") == "relaunched"; }));

    ASSERT_TRUE(loadWith("test_iochange").value("ok", false));
    play({1, 1}, midiRecord(0, 100));
    ASSERT_TRUE(awaitEvent([](const json& e) { return e.value("event", "") == "ioChanged"; }));
    const auto told = std::find_if(eventLog.begin(), eventLog.end(), [](const json& e) {
        return e.value("event", "") == "ioChanged";
    });
    ASSERT_NE(told, eventLog.end());
    EXPECT_EQ(*told,
              json({{"event", "ioChanged"}, {"inputs", 2}, {"outputs", 4}, {"latency", 32}}));
    heard = play({0.5f, 0.5f});
    EXPECT_EQ(heard.channels, 4u) << "the layout the client chose stays";
    EXPECT_FLOAT_EQ(heard.at(1), 0.5f);
}
