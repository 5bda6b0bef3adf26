// A running program with one greeted client, the base of most integration tests.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "../support/ProgramUnderTest.h"
#include "../support/WsClient.h"

namespace testing_support {

inline const std::string banner = "corvel studio plugin loader\nversion 0.1.0";

// No display for the Linux program; under Wine the program always needs one.
inline std::map<std::string, std::string> headlessEnvironment() {
    if (!ProgramUnderTest::isNative()) return {};
    return {{"DISPLAY", ""}};
}

// Skips a test that needs the Linux program itself (its folders, signals, X11 windows).
#define SKIP_UNLESS_NATIVE()                                                       \
    if (!ProgramUnderTest::isNative()) GTEST_SKIP() << "checks the Linux program only"

class HostTest : public ::testing::Test {
protected:
    // Override to give the program an environment of its own. Headless by
    // default; under Wine the program always needs the display.
    virtual std::map<std::string, std::string> environment() { return headlessEnvironment(); }

    void SetUp() override {
        program = std::make_unique<ProgramUnderTest>(environment());
        ASSERT_TRUE(program->start()) << program->errors();
        ASSERT_TRUE(connectClient(client))
            << "running: " << program->running() << "\nstdout:\n" << program->output()
            << "\nstderr:\n" << program->errors();
    }

    // Every test ends the program as a client would, and expects it to end
    // cleanly whatever the test left behind.
    void TearDown() override {
        client.disconnect();
        if (program && program->running()) {
            WsClient closer;
            const bool connected = connectClient(closer);
            if (connected && closer.sendText("quit")) {
                // Hanging up on the program's close lets it end without waiting.
                closer.waitClosed(20000);
                closer.disconnect();
            }
            // Wine takes its time to end a program.
            EXPECT_EQ(program->waitExit(ProgramUnderTest::isNative() ? 20000 : 60000), 0)
                << "the program did not end cleanly"
                << (connected ? "" : " (no client could connect to send \"quit\")")
                << "\nstdout:\n" << program->output() << "\nstderr:\n" << program->errors();
        }
    }

    // Connects and checks that the banner comes first.
    bool connectClient(WsClient& other) {
        // Generous: sanitizer builds on a busy machine start slowly.
        if (!other.connect(program->port(), 20000)) return false;
        auto greeting = other.receiveText(20000);
        return greeting && *greeting == banner;
    }

    // Proves the connection is open and every earlier message was handled:
    // "resume" is always answered, and answers keep their order.
    void expectAlive(WsClient& other) {
        ASSERT_TRUE(other.sendText("resume"));
        auto reply = other.receiveText();
        ASSERT_TRUE(reply.has_value()) << "no reply: the connection is not served";
        EXPECT_EQ(*reply, "bypass\nfalse");
    }
    void expectAlive() { expectAlive(client); }

    // Sends the frames from a fresh client, expects the program to close the
    // connection and report it once, and returns the close's status (0 when
    // it carried none).
    int closeStatusAfter(const std::vector<std::pair<uint8_t, std::string>>& frames) {
        client.disconnect();
        EXPECT_TRUE(program->waitForOutput("WS closed\n"));
        const int closedBefore = program->countLines("WS closed");
        EXPECT_TRUE(connectClient(client));
        for (const auto& [header, payload] : frames)
            if (!client.sendFrame(header, payload)) break;  // closed before all was sent
        std::optional<WsMessage> reply;
        do {
            reply = client.receive(20000);
        } while (reply && reply->opcode != 8);
        EXPECT_TRUE(client.waitClosed());
        for (int i = 0; i < 250 && program->countLines("WS closed") == closedBefore; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(program->countLines("WS closed"), closedBefore + 1);
        if (!reply || reply->payload.size() < 2) return 0;
        return (static_cast<uint8_t>(reply->payload[0]) << 8) | static_cast<uint8_t>(reply->payload[1]);
    }

    // Sends a command that prints line and waits for it: every line that
    // earlier commands printed has then been read from the program.
    void syncOutput(const std::string& command, const std::string& line) {
        ASSERT_TRUE(client.sendText(command));
        ASSERT_TRUE(program->waitForOutput(line + "\n"));
    }

    std::unique_ptr<ProgramUnderTest> program;
    WsClient client;
};

}  // namespace testing_support
