// Saving and restoring a plug-in's state through the real program.
#include "PluginFixture.h"

using namespace testing_support;

using StateTest = PluginTest;

TEST_F(StateTest, TheStateTravelsByteForByteBothWays) {
    load("test_chunks");
    ASSERT_TRUE(client.sendText("getState"));
    EXPECT_EQ(client.receiveText(), "state");
    auto saved = client.receiveBinary();
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(saved->size(), 1000u);

    ASSERT_TRUE(client.sendText("setState"));
    ASSERT_TRUE(client.sendBinary(*saved));
    // The plug-in is off until "resume": blocks are answered empty.
    EXPECT_TRUE(roundTrip(block(1024, 0.0f, 0.0f, 0.0f)).empty());
    ASSERT_TRUE(client.sendText("resume"));
    EXPECT_EQ(client.receiveText(), "bypass\nfalse");
    EXPECT_EQ(roundTrip(block(1024, 0.0f, 0.0f, 0.0f)).size(), 2048u);

    const auto lines = log();
    const auto got = linesStartingWith(lines, {"effGetChunk"});
    const auto set = linesStartingWith(lines, {"effSetChunk"});
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(set.size(), 1u);
    const std::string hash = got[0].substr(got[0].find("hash="));
    EXPECT_EQ(set[0], "effSetChunk index=1 size=1000 " + hash);

    // What was restored is what is read back, even a state the client made up.
    ASSERT_TRUE(client.sendText("getState"));
    EXPECT_EQ(client.receiveText(), "state");
    EXPECT_EQ(client.receiveBinary(), saved);
    std::string blob(333, '\0');
    for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<char>(i * 7);
    ASSERT_TRUE(client.sendText("setState"));
    ASSERT_TRUE(client.sendText("setState"));  // armed once, whatever the count
    ASSERT_TRUE(client.sendBinary(blob));
    ASSERT_TRUE(client.sendText("resume"));
    EXPECT_EQ(client.receiveText(), "bypass\nfalse");
    EXPECT_EQ(roundTrip(block(1024, 0.0f, 0.0f, 0.0f)).size(), 2048u);  // audio again
    ASSERT_TRUE(client.sendText("getState"));
    EXPECT_EQ(client.receiveText(), "state");
    EXPECT_EQ(client.receiveBinary(), blob);
    EXPECT_EQ(countStartingWith(log(), "effMainsChanged 0"), 2);
}

TEST_F(StateTest, APluginWithoutChunksAnswersStateFailedAndIgnoresABlob) {
    load("test_gain");
    ASSERT_TRUE(client.sendText("getState"));
    EXPECT_EQ(client.receiveText(), "state failed");
    ASSERT_TRUE(client.sendText("setState"));
    ASSERT_TRUE(client.sendBinary(std::string(64, '\x05')));
    EXPECT_EQ(roundTrip(block(1024, 0.0f, 0.0f, 0.0f)).size(), 2048u);  // still running
    EXPECT_EQ(countStartingWith(log(), "effGetChunk"), 0);
}

TEST_F(StateTest, ALoadFollowedAtOnceByGetStateReadsTheNewPlugin) {
    ASSERT_TRUE(client.sendText("load " + testPluginPath("test_chunks")));
    ASSERT_TRUE(client.sendText("getState"));
    EXPECT_EQ(client.receiveText(10000), "ready");
    EXPECT_EQ(client.receiveText(), "fixedCompensationDelaySamp\n0");
    EXPECT_EQ(client.receiveText(), "state");
    auto saved = client.receiveBinary();
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(saved->size(), 1000u);
}
