// Saving and restoring a plug-in's state through the real program.
#include "HostFixture.h"

using namespace testing_support;

using StateTest = PluginTest;

TEST_F(StateTest, TheStateTravelsByteForByteBothWaysAndAPluginWithoutChunksHasNone) {
    // Asked at once after the load, the state is the new plug-in's.
    ASSERT_TRUE(client.sendText("load " + testPluginPath("test_chunks")));
    ASSERT_TRUE(client.sendText("getState"));
    EXPECT_EQ(client.receiveText(10000), "ready");
    EXPECT_EQ(client.receiveText(), "fixedCompensationDelaySamp\n0");
    EXPECT_EQ(client.receiveText(), "state");
    const std::string saved = client.receiveBinary().value_or("");
    EXPECT_EQ(saved.size(), 1000u);

    ASSERT_TRUE(client.sendText("setState"));
    ASSERT_TRUE(client.sendText("setState"));  // armed once, whatever the count
    ASSERT_TRUE(client.sendBinary(saved));
    // The plug-in is off until "resume": blocks are answered empty.
    EXPECT_TRUE(roundTrip(block(1024, 0.0f, 0.0f, 0.0f)).empty());
    expectAlive();
    EXPECT_EQ(roundTrip(block(1024, 0.0f, 0.0f, 0.0f)).size(), 2048u);  // audio again
    EXPECT_EQ(client.ask("getState"), "state");
    EXPECT_EQ(client.receiveBinary(), saved);
    const auto got = log({"effGetChunk"});
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(log({"effSetChunk"}), std::vector<std::string>{"effSetChunk index=1 size=1000 " +
                                                             got[0].substr(got[0].find("hash="))});
    EXPECT_EQ(logCount("effMainsChanged 0"), 1);

    load("test_gain");
    EXPECT_EQ(client.ask("getState"), "state failed");
    ASSERT_TRUE(client.sendText("setState"));
    ASSERT_TRUE(client.sendBinary(std::string(64, '\x05')));
    EXPECT_EQ(roundTrip(block(1024, 0.0f, 0.0f, 0.0f)).size(),
              2048u);                       // ignored, and still running
    EXPECT_EQ(logCount("effGetChunk"), 2);  // the chunks plug-in's, never the gain's
}
