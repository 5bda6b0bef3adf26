// Several clients at once: each connection is a session of its own.
#include <thread>

#include "PluginFixture.h"

using namespace testing_support;

namespace {

class SessionTest : public PluginTest {
protected:
    static std::vector<float> roundTripOn(WsClient& other, const std::vector<float>& samples) {
        EXPECT_TRUE(other.sendBinary(samples));
        auto reply = other.receiveBinary();
        return reply ? floatsOf(*reply) : std::vector<float>{};
    }

    // Gain 0.5 on a block of the given size, checked sample by sample.
    static void expectHalved(WsClient& other, uint32_t frames, float start) {
        const auto out = roundTripOn(other, block(frames, start, 0.001f, -0.25f));
        ASSERT_EQ(out.size(), 2u * frames);
        EXPECT_FLOAT_EQ(out[frames - 1], 0.5f * (start + 0.001f * float(frames - 1)));
        EXPECT_FLOAT_EQ(out[2 * frames - 1], -0.125f);
    }
};

}  // namespace

TEST_F(SessionTest, TwoSessionsStreamSideBySideWithTheirOwnPluginsAndBlockSizes) {
    WsClient other;
    ASSERT_TRUE(connectClient(other));
    ASSERT_TRUE(client.sendText("bufsize 256"));
    expectAlive(client);  // handled before the other session's, which is then the last
    ASSERT_TRUE(other.sendText("bufsize 64"));
    expectAlive(other);
    load("test_gain");
    loadOn(other, "test_synth");
    std::thread second([&] {
        for (int i = 0; i < 50; ++i) {
            const auto out = roundTripOn(other, block(64, 0.25f, 0.0f, 0.25f));
            ASSERT_EQ(out.size(), 128u);
            EXPECT_FLOAT_EQ(out[0], 0.25f);  // a silent synth passes its input through
        }
    });
    for (int i = 0; i < 50; ++i) expectHalved(client, 256, 0.01f * float(i));
    second.join();
    // A new session starts from the last block size any session set.
    WsClient third;
    ASSERT_TRUE(connectClient(third));
    loadOn(third, "test_gain");
    expectHalved(third, 64, 0.5f);
}

TEST_F(SessionTest, UpTo64SessionsAndThe65thIsRefusedWith503) {
    std::vector<std::unique_ptr<WsClient>> clients;
    for (int i = 1; i < 64; ++i) {
        clients.push_back(std::make_unique<WsClient>());
        ASSERT_TRUE(connectClient(*clients.back())) << "session " << i + 1;
    }
    WsClient refused;
    EXPECT_FALSE(refused.connectOnce(program->port()));
    EXPECT_EQ(refused.handshakeResponse().rfind("HTTP/1.1 503", 0), 0u) << refused.handshakeResponse();
    EXPECT_TRUE(program->waitForOutput("WS refused\n"));
    for (auto& each : clients) expectAlive(*each);

    clients.back()->disconnect();
    ASSERT_TRUE(program->waitForOutput("WS closed\n"));
    ASSERT_TRUE(connectClient(refused));
    expectAlive(refused);
}

TEST_F(SessionTest, ClosingOneSessionUnloadsOnlyItsPluginAndQuitUnloadsEverySessions) {
    WsClient other, third;
    ASSERT_TRUE(connectClient(other));
    ASSERT_TRUE(connectClient(third));
    load("test_gain");
    loadOn(other, "test_chunks");
    loadOn(third, "test_synth");
    other.disconnect();
    ASSERT_TRUE(waitForLogLine(*program, "unloaded kind=chunks"));
    EXPECT_EQ(countStartingWith(log(), "unloaded kind=gain"), 0);
    expectHalved(client, 1024, 0.0f);
    ASSERT_TRUE(third.sendText("quit"));
    EXPECT_EQ(program->waitExit(ProgramUnderTest::isNative() ? 20000 : 60000), 0);
    const auto lines = log();
    EXPECT_EQ(countStartingWith(lines, "unloaded kind=gain"), 1);
    EXPECT_EQ(countStartingWith(lines, "unloaded kind=synth"), 1);
}

TEST_F(SessionTest, StateAndPendingStateStayWithTheirSession) {
    WsClient other;
    ASSERT_TRUE(connectClient(other));
    load("test_chunks");
    loadOn(other, "test_chunks");
    ASSERT_TRUE(client.sendText("setState"));
    ASSERT_TRUE(client.sendBinary(std::string("first session")));
    ASSERT_TRUE(other.sendText("setState"));
    ASSERT_TRUE(other.sendBinary(std::string("second session")));
    ASSERT_TRUE(client.sendText("getState"));
    EXPECT_EQ(client.receiveText(), "state");
    EXPECT_EQ(client.receiveBinary(), "first session");
    ASSERT_TRUE(other.sendText("getState"));
    EXPECT_EQ(other.receiveText(), "state");
    EXPECT_EQ(other.receiveBinary(), "second session");

    // A "setState" left pending by a client that leaves ends with it: the
    // next client's first block is audio, not that client's state.
    ASSERT_TRUE(other.sendText("setState"));
    other.disconnect();
    ASSERT_TRUE(program->waitForOutput("WS closed\n"));
    WsClient next;
    ASSERT_TRUE(connectClient(next));
    loadOn(next, "test_gain");
    expectHalved(next, 1024, 0.0f);
}
