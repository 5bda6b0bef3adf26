// Several clients at once: each connection is a session of its own.
#include <thread>

#include "HostFixture.h"

using namespace testing_support;

namespace {

class SessionTest : public PluginTest {
protected:
    // Gain 0.5 on a block of the given size: its size and each channel's last sample.
    static void expectHalved(WsClient& other, uint32_t frames, float start) {
        const auto out = roundTrip(other, block(frames, start, 0.001f, -0.25f));
        ASSERT_EQ(out.size(), 2u * frames);
        EXPECT_FLOAT_EQ(out[frames - 1], 0.5f * (start + 0.001f * float(frames - 1)));
        EXPECT_FLOAT_EQ(out[2 * frames - 1], -0.125f);
    }

    static void setState(WsClient& other, const std::string& state) {
        ASSERT_TRUE(other.sendText("setState"));
        ASSERT_TRUE(other.sendBinary(state));
        EXPECT_EQ(other.ask("getState"), "state");
        EXPECT_EQ(other.receiveBinary(), state);
    }
};

}  // namespace

TEST_F(SessionTest, EachSessionHasItsOwnPluginBlockSizeAndStateAndClosingOneUnloadsOnlyItsOwn) {
    WsClient other, third;
    ASSERT_TRUE(connectClient(other));
    ASSERT_TRUE(connectClient(third));
    ASSERT_TRUE(client.sendText("bufsize 256"));
    expectAlive(client);  // handled before the other session's, which is then the last
    ASSERT_TRUE(other.sendText("bufsize 64"));
    expectAlive(other);
    load("test_gain");
    loadOn(other, "test_synth");
    loadOn(third, "test_chunks");
    std::thread second([&] {
        for (int i = 0; i < 50; ++i) {
            const auto out = roundTrip(other, block(64, 0.25f, 0.0f, 0.25f));
            ASSERT_EQ(out.size(), 128u);
            EXPECT_FLOAT_EQ(out[0], 0.25f);  // a silent synth passes its input through
        }
    });
    for (int i = 0; i < 50; ++i) expectHalved(client, 256, 0.01f * float(i));
    second.join();

    loadOn(other, "test_chunks");
    setState(third, "third session");
    setState(other, "second session");
    EXPECT_EQ(third.ask("getState"), "state");
    EXPECT_EQ(third.receiveBinary(), "third session");

    // A "setState" left pending by a client that leaves ends with it: the
    // next client's first block is audio, not that client's state. A new
    // session starts from the last block size any session set.
    ASSERT_TRUE(other.sendText("setState"));
    other.disconnect();
    ASSERT_TRUE(waitForLog("unloaded kind=chunks"));
    EXPECT_EQ(logCount("unloaded kind="), 2);  // the synth replaced, the chunks of the session gone
    WsClient next;
    ASSERT_TRUE(connectClient(next));
    loadOn(next, "test_gain");
    expectHalved(next, 64, 0.5f);
    expectHalved(client, 256, 0.0f);

    ASSERT_TRUE(third.sendText("quit"));
    EXPECT_EQ(program->waitExit(ProgramUnderTest::isNative() ? 20000 : 60000), 0);
    EXPECT_EQ(logCount("unloaded kind=gain"), 2);
    EXPECT_EQ(logCount("unloaded kind=chunks"), 2);
}

TEST_F(SessionTest, UpTo64SessionsAndThe65thIsRefusedWith503) {
    std::vector<std::unique_ptr<WsClient>> clients;
    for (int i = 1; i < 64; ++i) {
        clients.push_back(std::make_unique<WsClient>());
        ASSERT_TRUE(connectClient(*clients.back())) << "session " << i + 1;
    }
    WsClient refused;
    EXPECT_FALSE(refused.connectOnce(program->port()));
    EXPECT_EQ(refused.handshakeResponse().rfind("HTTP/1.1 503", 0), 0u)
        << refused.handshakeResponse();
    EXPECT_TRUE(program->waitForOutput("WS refused\n"));
    for (auto& each : clients) expectAlive(*each);

    clients.back()->disconnect();
    ASSERT_TRUE(program->waitForOutput("WS closed\n"));
    ASSERT_TRUE(connectClient(refused));
    expectAlive(refused);
}

// As a workstation opening a project: sessions connect together, each sets
// its own block size at once while the others change the size new sessions
// start from, and every sample of every block must come back halved.
TEST_F(SessionTest, SessionsStartingTogetherWithDifferentBlockSizesProcessEverySample) {
    const int sessions = ProgramUnderTest::isNative() ? 20 : 8;
    const int rounds = ProgramUnderTest::isNative() ? 4 : 1;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE(round);
        std::vector<std::thread> threads;
        for (int s = 0; s < sessions; ++s) {
            threads.emplace_back([this, s] {
                const uint32_t frames = 128 + 64 * static_cast<uint32_t>(s % 4);
                WsClient session;
                ASSERT_TRUE(connectClient(session));
                ASSERT_TRUE(session.sendText("bufsize " + std::to_string(frames)));
                loadOn(session, "test_gain");
                for (int b = 0; b < 3; ++b) {
                    const auto in = block(frames, 0.001f * float(s + b), 0.0001f, -0.5f);
                    const auto out = roundTrip(session, in);
                    ASSERT_EQ(out.size(), in.size()) << frames << " frames";
                    for (std::size_t i = 0; i < in.size(); ++i)
                        ASSERT_FLOAT_EQ(out[i], 0.5f * in[i]) << frames << " frames, sample " << i;
                }
            });
        }
        for (auto& thread : threads) thread.join();
        expectAlive();
    }
}

// Plug-ins stuck in effClose are ended in parallel, off the GUI thread, and
// quit shortens their grace: the program still quits within 2 s (one after
// the other, on the GUI thread, the eight took half a minute).
TEST_F(SessionTest, SessionsWhosePluginsHangInEffCloseCloseTogetherAndHoldNothing) {
    std::vector<std::unique_ptr<WsClient>> sessions;
    for (int i = 0; i < 8; ++i) {
        sessions.push_back(std::make_unique<WsClient>());
        ASSERT_TRUE(connectClient(*sessions.back()));
        loadOn(*sessions.back(), "test_hang_in_close");
    }
    for (auto& session : sessions) session->disconnect();
    // Every plug-in stuck, with most of its unload grace to go: quit must
    // cut that grace short rather than wait it out.
    ASSERT_TRUE(waitUntil([&] { return logCount("fault in effClose") == 8; }, 20000));
    ASSERT_TRUE(client.sendText("quit"));
    EXPECT_EQ(program->waitExit(ProgramUnderTest::isNative() ? 4000 : 40000), 0);
}
