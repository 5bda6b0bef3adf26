// Framing, connection slot and the diagnostics of the control channel.
#include <thread>

#include "HostFixture.h"

using namespace testing_support;

using ChannelTest = HostTest;

TEST_F(ChannelTest, GreetsWithTheBannerAndReportsTheConnection) {
    EXPECT_TRUE(program->waitForOutput("WS connected\nWS ready\n"));
    client.disconnect();
    EXPECT_TRUE(program->waitForOutput("WS closed\n"));
}

TEST_F(ChannelTest, JoinsAFragmentedTextMessage) {
    ASSERT_TRUE(client.sendFrame(0x01, "sus"));
    ASSERT_TRUE(client.sendFrame(0x00, "pen"));
    ASSERT_TRUE(client.sendFrame(0x80, "d"));
    EXPECT_EQ(client.receiveText(), "bypass\ntrue");
    expectAlive();
}

TEST_F(ChannelTest, EveryFrameKindThatTheChannelRefusesClosesTheConnection) {
    struct Case {
        const char* what;
        uint8_t header;
    };
    const Case cases[] = {
        {"close", 0x88},   {"ping", 0x89},         {"pong", 0x8A},
        {"stray continuation", 0x80}, {"reserved bit", 0xC1}, {"unknown opcode", 0x83},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        WsClient other;
        client.disconnect();
        ASSERT_TRUE(program->waitForOutput("WS closed\n"));
        const int closedBefore = program->countLines("WS closed");
        ASSERT_TRUE(connectClient(other));
        ASSERT_TRUE(other.sendFrame(each.header, "x"));
        EXPECT_TRUE(other.waitClosed());
        EXPECT_TRUE(program->waitForOutput("WS closed\n"));
        for (int i = 0; i < 100 && program->countLines("WS closed") == closedBefore; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(program->countLines("WS closed"), closedBefore + 1);
    }
}

TEST_F(ChannelTest, APingInsideAFragmentedMessageClosesToo) {
    ASSERT_TRUE(client.sendFrame(0x01, "sus"));
    ASSERT_TRUE(client.sendFrame(0x89, ""));
    EXPECT_TRUE(client.waitClosed());
}

TEST_F(ChannelTest, AMessageCutOffByACloseLeavesNothingForTheNextClient) {
    ASSERT_TRUE(client.sendFrame(0x01, "sus"));
    client.disconnect();
    ASSERT_TRUE(program->waitForOutput("WS closed\n"));
    WsClient next;
    ASSERT_TRUE(connectClient(next));
    // Had "sus" stayed behind, this would read "susresume" and close.
    expectAlive(next);
}

TEST_F(ChannelTest, RepliesAreSentAsOneFramePerMessage) {
    ASSERT_TRUE(client.sendText("suspend"));
    ASSERT_TRUE(client.sendText("resume"));
    EXPECT_EQ(client.receiveText(), "bypass\ntrue");
    EXPECT_EQ(client.receiveText(), "bypass\nfalse");
}
