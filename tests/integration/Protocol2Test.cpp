// Protocol 2 through the real program: chosen in the handshake, JSON
// requests answered in order with reasons, blocks with headers and records,
// beside a connection of the original protocol.
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>

#include <nlohmann/json.hpp>

#include "Protocol2Fixture.h"

using namespace testing_support;
using nlohmann::json;

namespace {

constexpr uint32_t frames = Protocol2Test::frames;

}  // namespace

TEST_F(Protocol2Test, OfferedItIsChosenAndEveryOperationAnswersInOrderWithItsReasons) {
    // The program chose corvel.2 and greets with hello; without the offer it
    // chooses nothing and greets with the banner (the fixture's client).
    EXPECT_NE(v2.handshakeResponse().find("Sec-WebSocket-Protocol: corvel.2\r\n"),
              std::string::npos);
    EXPECT_EQ(hello.value("event", ""), "hello") << hello;
    EXPECT_EQ(hello["limits"].value("maxBlockFrames", 0), 16384);
    WsClient other;
    other.offerSubprotocols("chat");
    ASSERT_TRUE(connectClient(other));
    EXPECT_EQ(other.handshakeResponse().find("Sec-WebSocket-Protocol"), std::string::npos);

    expectError(ask({{"op", "getState"}}), "no-plugin");
    EXPECT_EQ(ask({{"op", "configure"}, {"blockSize", frames}}).value("blockSize", 0u), frames);
    EXPECT_EQ(exchange(blockWith({}, 0.5f, 0.5f)).status, 1u) << "no plug-in";

    // Requests that cannot be read are answered, and the connection stays.
    const json garbled = answerTo("load /x");
    EXPECT_TRUE(garbled["id"].is_null());
    expectError(garbled, "bad-request");
    expectError(ask({{"op", "fly"}}), "bad-request");
    expectError(ask({{"op", "configure"}, {"blockSize", 0}}), "bad-request");
    expectError(ask({{"op", "midi"}, {"events", {{144, 60, 300}}}}), "bad-request");

    // Failed loads say why.
    expectError(ask({{"op", "load"}, {"path", testPluginPath("test_no_such_plugin")}}),
                "not-found");
    expectError(ask({{"op", "load"}, {"path", testPluginPath("test_null_entry")}}), "refused");
    const json crashed = ask({{"op", "load"}, {"path", testPluginPath("test_abort_in_open")}});
    expectError(crashed, "crashed");
    // A crash is an event too; the relaunches crash alike until the slot gives up.
    while (std::find(events.begin(), events.end(), "gaveUp") == events.end()) {
        const json message = json::parse(v2.receiveText(10000).value_or("null"), nullptr, false);
        ASSERT_TRUE(message.is_object()) << "no gaveUp event";
        events.push_back(message.value("event", ""));
    }
    EXPECT_EQ(std::count(events.begin(), events.end(), "crashed"), 3);

    // Replies keep the order of the requests, the load's included.
    ASSERT_TRUE(
        v2.sendText(json({{"id", 100}, {"op", "configure"}, {"sampleRate", 48000}}).dump()));
    ASSERT_TRUE(v2.sendText(
        json({{"id", 101}, {"op", "load"}, {"path", testPluginPath("test_chunks")}}).dump()));
    ASSERT_TRUE(v2.sendText(json({{"id", 102}, {"op", "suspend"}}).dump()));
    for (int id : {100, 101, 102}) {
        const json reply = nextReply();
        EXPECT_EQ(reply.value("id", 0), id) << reply;
        EXPECT_TRUE(reply.value("ok", false)) << reply;
        if (id == 101) {
            EXPECT_EQ(reply.value("outputs", 0), 2) << reply;
        }
    }
    EXPECT_EQ(exchange(blockWith({}, 0.5f, 0.5f)).status, 2u) << "bypassed";
    EXPECT_TRUE(ask({{"op", "resume"}}).value("ok", false));

    // A state travels as the binary message after the JSON that announces it.
    const std::string state = "protocol 2 state";
    ASSERT_TRUE(
        v2.sendText(json({{"id", 200}, {"op", "setState"}, {"bytes", state.size()}}).dump()));
    ASSERT_TRUE(v2.sendBinary(state));
    EXPECT_TRUE(nextReply().value("ok", false));
    const json stateReply = ask({{"op", "getState"}});
    EXPECT_EQ(stateReply.value("bytes", 0u), state.size()) << stateReply;
    EXPECT_EQ(v2.receiveBinary(), state);
    EXPECT_TRUE(ask({{"op", "resume"}}).value("ok", false));

    // Blocks: halved, and MIDI records reach the plug-in on their frames.
    EXPECT_TRUE(ask({{"op", "load"}, {"path", testPluginPath("test_gain")}}).value("ok", false));
    const Reply halved = exchange(blockWith({0, 17, 63}, 0.5f, -0.25f));
    EXPECT_EQ(halved.frames, frames);
    EXPECT_EQ(halved.channels, 2u);
    EXPECT_FLOAT_EQ(halved.first, 0.25f);
    EXPECT_FLOAT_EQ(halved.last, -0.125f);
    for (const char* delta : {"delta=0 ", "delta=17 ", "delta=63 "})
        EXPECT_TRUE(waitForLog(std::string("event status=144 data1=60 data2=100 ") + delta))
            << delta;
    EXPECT_EQ(exchange(blockWith({}, 0.5f, 0.5f).substr(0, 100)).status, 5u) << "malformed";

    // The original protocol on the other connection is untouched meanwhile.
    loadOn(other, "test_gain");
    EXPECT_EQ(roundTrip(other, block(1024, 0.5f, 0.0f, 0.5f)).size(), 2048u);

    const json scanned = ask({{"op", "scan"}, {"folder", "/no/such/folder"}});
    EXPECT_TRUE(scanned["paths"].is_array()) << scanned;
    EXPECT_TRUE(ask({{"op", "unload"}}).value("ok", false));
    EXPECT_EQ(exchange(blockWith({}, 0.5f, 0.5f)).status, 1u);
    expectError(ask({{"op", "showEditor"}}), "no-plugin");

    // A server worker that served a protocol 2 client, then serves one that
    // offers nothing, chooses no subprotocol for it.
    for (int i = 0; i < 100; ++i) {
        WsClient offering, plain;
        offering.offerSubprotocols("corvel.2");
        ASSERT_TRUE(offering.connect(program->port(), 20000) && offering.receiveText(20000));
        offering.disconnect();
        ASSERT_TRUE(connectClient(plain)) << "round " << i;
        EXPECT_EQ(plain.handshakeResponse().find("Sec-WebSocket-Protocol"), std::string::npos);
    }
}

namespace {

// The program's catalogue cache and plug-in path in a folder of the test's.
class Protocol2CatalogueTest : public Protocol2Test {
protected:
    Protocol2CatalogueTest() {
        char name[] = "/tmp/corvel-catalogue-XXXXXX";
        if (mkdtemp(name)) root = name;
    }
    ~Protocol2CatalogueTest() override { std::filesystem::remove_all(root); }
    std::map<std::string, std::string> environment() override {
        auto changes = headlessEnvironment();
        changes["XDG_CACHE_HOME"] = (root / "cache").string();
        changes["VST_PATH"] = (root / "nothing").string();
        for (auto& [name, value] : realCrashVariables()) changes[name] = value;
        return changes;
    }
    // A folder of copies of test plug-ins, each under its kind's name.
    std::string folderOf(const std::string& name, const std::vector<std::string>& kinds) {
        const std::filesystem::path folder = root / name;
        std::filesystem::create_directories(folder);
        for (const std::string& kind : kinds)
            std::filesystem::copy_file(testPluginPath("test_" + kind), folder / (kind + ".so"));
        return folder.string();
    }
    // The catalogue's progress events for request id, then its reply;
    // texts kept while waiting for a block first.
    json catalogueReply(WsClient& session, int id, std::vector<json>& progress) {
        for (;;) {
            json message;
            if (&session == &v2 && !kept.empty()) {
                message = kept.front();
                kept.pop_front();
            } else {
                message = json::parse(session.receiveText(30000).value_or("null"), nullptr, false);
            }
            if (!message.is_object()) return nullptr;
            if (message.value("event", "") != "catalogueProgress") return message;
            EXPECT_EQ(message.value("id", 0), id) << message;
            progress.push_back(message);
        }
    }

    std::filesystem::path root;
    std::deque<json> kept;
};

}  // namespace

// Two clients asking at once share one scan: both are told of the modules
// as they are read, then get the same entries; a crashing and a hanging
// module are listed with their reasons while blocks, other requests and the
// other protocol go on; a client that left is not scanned for; a shell's
// member loads by the id its entry lists.
TEST_F(Protocol2CatalogueTest, ClientsShareOneScanWithProgressAndBrokenModulesCostNothing) {
    SKIP_UNLESS_NATIVE();
    const std::string folder =
        folderOf("plugins", {"gain", "shell", "null_write_in_open", "hang_in_open"});
    std::ofstream(std::filesystem::path(folder) / "text.so") << "not a module\n";
    const std::string later = folderOf("later", {"synth"});  // asked for by a client that leaves
    WsClient second, leaving;
    for (WsClient* other : {&second, &leaving}) {
        other->offerSubprotocols("corvel.2");
        ASSERT_TRUE(other->connect(program->port(), 20000) && other->receiveText(20000));
    }
    // The others ask once the scan runs: sent at once, either could start it.
    ASSERT_TRUE(v2.sendText(json({{"id", 1}, {"op", "catalogue"}, {"folder", folder}}).dump()));
    kept.push_back(json::parse(v2.receiveText(10000).value_or("null"), nullptr, false));
    ASSERT_TRUE(second.sendText(json({{"id", 7}, {"op", "catalogue"}, {"folder", folder}}).dump()));
    ASSERT_TRUE(leaving.sendText(json({{"id", 1}, {"op", "catalogue"}, {"folder", later}}).dump()));
    leaving.disconnect();

    // While the hanging module holds the scan: a block is answered at once,
    // a later request waits for the catalogue's reply, the other protocol
    // is served.
    ASSERT_TRUE(v2.sendText(json({{"id", 2}, {"op", "configure"}, {"blockSize", frames}}).dump()));
    EXPECT_TRUE(v2.sendBinary(blockWith({}, 0.5f, 0.5f)));
    std::optional<WsMessage> message;
    while ((message = v2.receive(10000)) && message->isText())
        kept.push_back(json::parse(message->payload));
    ASSERT_TRUE(message && message->isBinary()) << "a block waited for the catalogue";
    expectAlive();

    std::vector<json> progress, secondProgress;
    const json reply = catalogueReply(v2, 1, progress);
    const json secondReply = catalogueReply(second, 7, secondProgress);
    EXPECT_EQ(nextReply().value("id", 0), 2) << "replies keep the order of the requests";
    EXPECT_EQ(reply.value("id", 0), 1);
    ASSERT_TRUE(reply.value("ok", false)) << reply;
    EXPECT_EQ(secondReply["plugins"], reply["plugins"]);
    ASSERT_EQ(progress.size(), 1u + 5u) << json(progress).dump();
    EXPECT_EQ(
        progress.front(),
        json({{"event", "catalogueProgress"}, {"id", 1}, {"done", 0}, {"total", 5}, {"path", ""}}));
    for (std::size_t i = 1; i < progress.size(); ++i) {
        EXPECT_EQ(progress[i].value("done", 0u), i);
        EXPECT_EQ(std::filesystem::path(progress[i].value("path", "")).parent_path(), folder);
    }
    EXPECT_GT(std::count_if(secondProgress.begin(), secondProgress.end(),
                            [](const json& step) { return !step.value("path", "").empty(); }),
              0)
        << "a scan of its own would have found every module in the cache";

    std::map<std::string, json> byName;
    for (const json& entry : reply["plugins"]) {
        const std::string file = std::filesystem::path(entry.value("path", "")).filename().string();
        byName[entry.value("name", "").empty() ? file : entry.value("name", "")] = entry;
        EXPECT_EQ(entry.value("reason", "x").empty(), entry.value("status", "") == "ok") << entry;
    }
    ASSERT_EQ(byName.size(), 6u) << reply.dump(1);
    EXPECT_EQ(byName["gain.so"].value("uniqueId", 0), 0x43765473);
    EXPECT_EQ(byName["gain.so"].value("outputs", 0), 2);
    EXPECT_EQ(byName["gain.so"].value("category", ""), "unknown");
    EXPECT_EQ(byName["Shell Member B"].value("category", ""), "effect");
    const std::vector<std::pair<std::string, std::string>> broken = {
        {"null_write_in_open.so", "crashed: signal 11"},
        {"hang_in_open.so", "hung: no answer within 10 s"},
        {"text.so", "not-a-plugin: not a shared library"}};
    for (const auto& [name, expected] : broken)
        EXPECT_EQ(byName[name].value("status", "") + ": " + byName[name].value("reason", ""),
                  expected)
            << name;

    // Asked again, from the cache. Scans run one after the other, so had
    // the leaving client's scan stayed queued, it would have run by now.
    ASSERT_TRUE(v2.sendText(json({{"id", 3}, {"op", "catalogue"}, {"folder", folder}}).dump()));
    progress.clear();
    EXPECT_EQ(catalogueReply(v2, 3, progress)["plugins"], reply["plugins"]);
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_EQ(progress.front().value("done", 0), 5);
    EXPECT_EQ(logCount("entry kind=synth"), 0) << "a client that left was scanned for";
    // A rescan reads every module again.
    ASSERT_TRUE(v2.sendText(
        json({{"id", 4}, {"op", "catalogue"}, {"folder", folder}, {"rescan", true}}).dump()));
    progress.clear();
    EXPECT_EQ(catalogueReply(v2, 4, progress)["plugins"], reply["plugins"]);
    EXPECT_EQ(progress.size(), 1u + 5u);
    expectError(ask({{"op", "catalogue"}, {"rescan", "yes"}}), "bad-request");

    // The member B of the shell, by its id; the shell itself without one.
    const std::string shell = byName["Shell Member B"].value("path", "");
    const int memberBuilt = logCount("currentId 1399341618");
    EXPECT_TRUE(
        ask({{"op", "load"}, {"path", shell}, {"uniqueId", 0x53684232}}).value("ok", false));
    EXPECT_EQ(logCount("currentId 1399341618"), memberBuilt + 1);
    EXPECT_EQ(exchange(blockWith({}, 0.5f, 0.5f)).channels, 2u);
    const int shellBuilt = logCount("currentId 0");
    EXPECT_TRUE(ask({{"op", "load"}, {"path", shell}}).value("ok", false));
    EXPECT_EQ(logCount("currentId 0"), shellBuilt + 1);
    expectError(ask({{"op", "load"}, {"path", shell}, {"uniqueId", "B"}}), "bad-request");
}
