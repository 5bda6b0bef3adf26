// A running program with one greeted client, the base of the integration
// tests, and the steps the plug-in tests share.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "../support/ProgramUnderTest.h"
#include "../support/RealCrashes.h"
#include "../support/WaitUntil.h"
#include "../support/WsClient.h"

namespace testing_support {

inline const std::string banner = "corvel studio plugin loader\nversion 0.1.0";

// No display for the Linux program; under Wine the program always needs one.
inline std::map<std::string, std::string> headlessEnvironment() {
    if (!ProgramUnderTest::isNative()) return {};
    return {{"DISPLAY", ""}};
}

inline bool startsWith(const std::string& line, const std::string& prefix) {
    return line.compare(0, prefix.size(), prefix) == 0;
}

// The lines of a text that begin with one of the prefixes, in order.
inline std::vector<std::string> linesStartingWith(const std::string& text,
                                                  const std::vector<std::string>& prefixes) {
    std::istringstream lines(text);
    std::vector<std::string> kept;
    for (std::string line; std::getline(lines, line);)
        if (std::any_of(prefixes.begin(), prefixes.end(),
                        [&](auto& prefix) { return startsWith(line, prefix); }))
            kept.push_back(line);
    return kept;
}

// Skips a test that needs the Linux program itself (its folders, signals, X11 windows).
#define SKIP_UNLESS_NATIVE() \
    if (!ProgramUnderTest::isNative()) GTEST_SKIP() << "checks the Linux program only"

class HostTest : public ::testing::Test {
protected:
    // Override to give the program an environment of its own, or to start
    // another build of it.
    virtual std::map<std::string, std::string> environment() { return headlessEnvironment(); }
    virtual std::string programCommand() { return {}; }

    void SetUp() override {
        program = std::make_unique<ProgramUnderTest>(environment());
        if (!programCommand().empty()) program->runInstead(programCommand());
        ASSERT_TRUE(program->start()) << program->errors();
        ASSERT_TRUE(connectClient(client)) << "running: " << program->running() << "\nstdout:\n"
                                           << program->output() << "\nstderr:\n"
                                           << program->errors();
    }

    // Every test ends the program as a client would, and expects it to end
    // cleanly whatever the test left behind.
    void TearDown() override {
        client.disconnect();
        if (!program || !program->running()) return;
        WsClient closer;
        const bool connected = connectClient(closer);
        // Hanging up on the program's close lets it end without waiting.
        if (connected && closer.sendText("quit")) closer.waitClosed(20000);
        closer.disconnect();
        // Wine takes its time to end a program.
        EXPECT_EQ(program->waitExit(ProgramUnderTest::isNative() ? 20000 : 60000), 0)
            << "the program did not end cleanly"
            << (connected ? "" : " (no client could send \"quit\")") << "\nstdout:\n"
            << program->output() << "\nstderr:\n"
            << program->errors();
    }

    // Connects and checks that the banner comes first. Generous: sanitizer
    // builds on a busy machine start slowly.
    bool connectClient(WsClient& other) {
        return other.connect(program->port(), 20000) && other.receiveText(20000) == banner;
    }

    // Proves the connection is open and every earlier message was handled:
    // "resume" is always answered, and answers keep their order.
    void expectAlive(WsClient& other) {
        EXPECT_EQ(other.ask("resume"), "bypass\nfalse") << "connection not served";
    }
    void expectAlive() { expectAlive(client); }

    int outputCount(const std::string& prefix) {
        return int(linesStartingWith(program->output(), {prefix}).size());
    }

    std::unique_ptr<ProgramUnderTest> program;
    WsClient client;
};

class PluginTest : public HostTest {
protected:
    // Loads a test plug-in and checks the two replies of a good load.
    void load(const std::string& name, int latency = 0) { loadOn(client, name, latency); }
    // The reply to a block sent before may still be on its way (the
    // block's thread and the relaunch's race): it is passed over.
    static void loadOn(WsClient& session, const std::string& name, int latency = 0) {
        ASSERT_TRUE(session.sendText("load " + testPluginPath(name)));
        EXPECT_EQ(nextText(session, 10000), "ready");
        EXPECT_EQ(nextText(session, 5000),
                  "fixedCompensationDelaySamp\n" + std::to_string(latency));
    }
    static std::optional<std::string> nextText(WsClient& session, int timeoutMs) {
        for (;;) {
            auto message = session.receive(timeoutMs);
            if (!message || message->opcode == 1)
                return message ? std::optional<std::string>(message->payload) : std::nullopt;
        }
    }

    // A block of two channels: left[i] = leftStart + i * step, right constant.
    static std::vector<float> block(uint32_t frames, float leftStart, float step, float right) {
        std::vector<float> samples(2 * frames, right);
        for (uint32_t i = 0; i < frames; ++i) samples[i] = leftStart + static_cast<float>(i) * step;
        return samples;
    }

    // Sends one block and returns the samples of its reply (empty for an
    // empty reply); fails the test when no binary reply comes.
    static std::vector<float> roundTrip(WsClient& session, const std::vector<float>& samples) {
        EXPECT_TRUE(session.sendBinary(samples));
        auto reply = session.receiveBinary();
        EXPECT_TRUE(reply.has_value()) << "no binary reply";
        return reply ? floatsOf(*reply) : std::vector<float>{};
    }
    std::vector<float> roundTrip(const std::vector<float>& samples) {
        return roundTrip(client, samples);
    }

    // Texts up to and including last; empty binary replies on the way are counted.
    std::vector<std::string> textsUntil(const std::string& last, int* emptyReplies = nullptr) {
        // Under Wine a plug-in process's start alone can take seconds.
        const int waitMs = ProgramUnderTest::isNative() ? 10000 : 30000;
        std::vector<std::string> texts;
        std::optional<WsMessage> message;
        while ((message = client.receive(waitMs)) && message->opcode != 8) {
            if (message->isBinary() && emptyReplies) *emptyReplies += message->payload.empty();
            if (!message->isText()) continue;
            texts.push_back(message->payload);
            if (message->payload == last) break;
        }
        return texts;
    }

    // What the test plug-ins wrote about the host's calls: the lines that
    // begin with one of the prefixes, in order, without the editor's parent
    // window id (it differs per run).
    std::vector<std::string> log(const std::vector<std::string>& prefixes) {
        auto lines = linesStartingWith(program->readPluginLog(), prefixes);
        for (std::string& line : lines) line = line.substr(0, line.find(" parent="));
        return lines;
    }
    int logCount(const std::string& prefix) { return static_cast<int>(log({prefix}).size()); }
    bool waitForLog(const std::string& prefix) {
        return waitUntil([&] { return logCount(prefix) > 0; }, 5000);
    }
};

}  // namespace testing_support
