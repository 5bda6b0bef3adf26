// Framing and the diagnostics of the control channel.
#include "HostFixture.h"

using namespace testing_support;

using ChannelTest = HostTest;

TEST_F(ChannelTest, ReportsTheConnectionAndJoinsAFragmentedTextMessage) {
    EXPECT_TRUE(program->waitForOutput("WS connected\nWS ready\n"));
    ASSERT_TRUE(client.sendFrame(0x01, "sus"));
    ASSERT_TRUE(client.sendFrame(0x00, "pen"));
    ASSERT_TRUE(client.sendFrame(0x80, "d"));
    EXPECT_EQ(client.receiveText(), "bypass\ntrue");
    expectAlive();
    client.disconnect();
    EXPECT_TRUE(program->waitForOutput("WS closed\n"));
}

TEST_F(ChannelTest, EveryFrameKindThatTheChannelRefusesClosesTheConnectionOnce) {
    const std::vector<std::pair<const char*, std::vector<std::pair<uint8_t, std::string>>>> cases = {
        {"close", {{0x88, ""}}}, {"ping", {{0x89, ""}}}, {"pong", {{0x8A, ""}}}, {"stray continuation", {{0x80, "x"}}},
        {"reserved bit", {{0xC1, "x"}}}, {"unknown opcode", {{0x83, "x"}}},
        {"ping inside a fragmented message", {{0x01, "sus"}, {0x89, ""}}}};
    for (const auto& [what, frames] : cases) {
        SCOPED_TRACE(what);
        closeStatusAfter(frames);
    }
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
