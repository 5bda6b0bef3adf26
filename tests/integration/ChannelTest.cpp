// Framing and the diagnostics of the control channel, and what one client
// can send that must not harm the program or the next client.
#include "../support/Sockets.h"
#include "HostFixture.h"

using namespace testing_support;

class ChannelTest : public HostTest {
protected:
    // Sends the frames from a fresh client, expects the program to close the
    // connection and report it once, and returns the close's status (0 when
    // it carried none).
    int closeStatusAfter(const std::vector<std::pair<uint8_t, std::string>>& frames) {
        client.disconnect();
        EXPECT_TRUE(program->waitForOutput("WS closed\n"));
        const int closedBefore = outputCount("WS closed");
        EXPECT_TRUE(connectClient(client));
        for (const auto& [header, payload] : frames)
            if (!client.sendFrame(header, payload)) break;  // closed before all was sent
        const auto reply = client.receiveClose(20000);
        EXPECT_TRUE(reply.has_value()) << "still open";
        waitUntil([&] { return outputCount("WS closed") > closedBefore; }, 5000);
        EXPECT_EQ(outputCount("WS closed"), closedBefore + 1);
        if (!reply || reply->payload.size() < 2) return 0;
        return (static_cast<uint8_t>(reply->payload[0]) << 8) | static_cast<uint8_t>(reply->payload[1]);
    }
};

TEST_F(ChannelTest, ReportsTheConnectionJoinsAFragmentedTextAndLeavesNothingOfACutOffOneBehind) {
    EXPECT_TRUE(program->waitForOutput("WS connected\nWS ready\n"));
    ASSERT_TRUE(client.sendFrame(0x01, "sus"));
    ASSERT_TRUE(client.sendFrame(0x00, "pen"));
    ASSERT_TRUE(client.sendFrame(0x80, "d"));
    EXPECT_EQ(client.receiveText(), "bypass\ntrue");
    expectAlive();
    ASSERT_TRUE(client.sendFrame(0x01, "sus"));
    client.disconnect();
    ASSERT_TRUE(program->waitForOutput("WS closed\n"));
    ASSERT_TRUE(connectClient(client));
    // Had "sus" stayed behind, this would read "susresume" and close.
    expectAlive();
}

TEST_F(ChannelTest, EachFrameOrMessageThatIsRefusedClosesTheConnectionOnceRunsNothingAndLeavesNoMemory) {
    const long before = program->residentKiB();
    std::vector<std::pair<int, std::vector<std::pair<uint8_t, std::string>>>> cases = {
        {0, {{0x88, ""}}},
        {0, {{0x89, ""}}},
        {0, {{0x8A, ""}}},
        {0, {{0x01, "sus"}, {0x89, ""}}},  // a ping inside a fragmented message
        {1002, {{0x80, "resume"}}},        // a continuation of nothing
        {1002, {{0xC1, "resume"}}},        // reserved bits
        {1002, {{0xA1, "resume"}}},
        {1002, {{0x01, "sus"}, {0xC0, "pend"}}},
        {1002, {{0x83, "resume"}}},  // an unknown opcode
        // "scan" + a new text frame "VSTs" would once have run scanVSTs.
        {1002, {{0x01, "scan"}, {0x81, "VSTs"}}},
        {1002, {{0x02, "ab"}, {0x82, "cd"}}},
        {1007, {{0x81, "resume\xC3"}}},
        {1007, {{0x01, "resume \xED\xA0"}, {0x80, "\x80"}}},  // a surrogate across frames
        // Messages that name no command.
        {0, {{0x81, std::string("\0suspend", 8)}}},
        {0, {{0x81, "Suspend"}}},
        {0, {{0x81, ""}}},
        {0, {{0x81, "bogus"}}},
        {0, {{0x81, "mid"}}},
    };
    // Hundreds of MiB take minutes under the thread sanitizer.
#ifndef CORVEL_SANITIZER_thread
    // A large state is taken whole.
    const std::string chunk(16 << 20, '\x01');
    ASSERT_TRUE(client.sendText("setState"));
    ASSERT_TRUE(client.sendFrame(0x02, chunk));
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(client.sendFrame(0x00, chunk));
    ASSERT_TRUE(client.sendFrame(0x80, chunk));
    expectAlive();
    const std::string mebibyte(1 << 20, 'a');
    cases.push_back({1009, {{0x81, mebibyte + "b"}}});
    cases.push_back({1009, {{0x01, mebibyte}, {0x80, "b"}}});
    // 256 MiB of binary is allowed; one byte more is not.
    std::vector<std::pair<uint8_t, std::string>> tooLarge(16, {0x00, chunk});
    tooLarge.front().first = 0x02;
    tooLarge.push_back({0x80, "x"});
    cases.push_back({1009, std::move(tooLarge)});
#endif
    for (const auto& [status, frames] : cases) {
        SCOPED_TRACE(frames.front().second.substr(0, 20));
        EXPECT_EQ(closeStatusAfter(frames), status);
    }
    EXPECT_EQ(outputCount("WS refused"), 0);
    EXPECT_EQ(program->output().find("scan"), std::string::npos);
    // Measured before the next client: a closed connection holds nothing. A
    // sanitizer's allocator holds freed memory back, so there it says nothing.
#ifndef CORVEL_SANITIZED_PROGRAM
    if (before > 0) {
        EXPECT_LT(program->residentKiB(), before + 48 * 1024) << "KiB resident before " << before;
    }
#endif
}

TEST_F(ChannelTest, IdleSocketsNeitherLockOutAClientNorStayOpen) {
    // A hundred sockets dropped at once abort Wine 8's own server
    // (complete_async_poll); the server options are the same on both builds.
    SKIP_UNLESS_NATIVE();
    client.disconnect();
    std::vector<int> idle;
    for (int i = 0; i < 100; ++i) {
        idle.push_back(connectLoopback(program->port()));
        ASSERT_GE(idle.back(), 0);
    }
    // With the library's defaults this waited for its 30 s request timeout.
    ASSERT_TRUE(connectClient(client));
    expectAlive();
    for (int fd : idle) {
        pollfd watched{fd, POLLIN, 0};
        char byte;
        EXPECT_TRUE(poll(&watched, 1, 20000) == 1 && recv(fd, &byte, 1, 0) <= 0) << "a silent socket is still open";
        close(fd);
    }
}
