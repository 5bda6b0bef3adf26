// The channel hands each joined message to the host and takes its storage
// back for the next one: every block must still be answered from its own
// samples alone, whatever came before it.
#include "PluginFixture.h"

using namespace testing_support;

using BlockStorageTest = PluginTest;

namespace {

void expectHalf(const std::vector<float>& output, const std::vector<float>& input) {
    ASSERT_EQ(output.size(), 2048u);
    for (std::size_t i = 0; i < output.size(); ++i) ASSERT_FLOAT_EQ(output[i], 0.5f * input[i]) << i;
}

}  // namespace

TEST_F(BlockStorageTest, EachBlockIsAnsweredFromItsOwnSamples) {
    load("test_gain");
    for (int round = 0; round < 4; ++round) {
        const auto input = block(1024, 0.1f * static_cast<float>(round), 0.001f,
                                 -0.2f * static_cast<float>(round));
        expectHalf(roundTrip(input), input);
    }
}

TEST_F(BlockStorageTest, AMessageLargerThanTheRoomKeptForJoiningLeavesNoTrace) {
    load("test_gain");
    auto large = block(1024, 0.9f, -0.0001f, 0.7f);
    large.resize(12000, 0.3f);  // 48000 bytes, the surplus ignored
    expectHalf(roundTrip(large), large);
    const auto next = block(1024, -0.4f, 0.0002f, 0.05f);
    expectHalf(roundTrip(next), next);
    // Fragments join from the start too.
    const auto fragmented = block(1024, 0.25f, 0.0003f, -0.6f);
    const std::string bytes(reinterpret_cast<const char*>(fragmented.data()),
                            fragmented.size() * sizeof(float));
    ASSERT_TRUE(client.sendFrame(0x02, bytes.substr(0, 3000)));
    ASSERT_TRUE(client.sendFrame(0x80, bytes.substr(3000)));
    auto reply = client.receiveBinary();
    ASSERT_TRUE(reply.has_value());
    expectHalf(floatsOf(*reply), fragmented);
}

TEST_F(BlockStorageTest, AStateBetweenBlocksIsRestoredWholeAndLeavesNoTrace) {
    load("test_chunks");
    const auto before = block(1024, 0.5f, -0.0004f, 0.125f);
    expectHalf(roundTrip(before), before);
    std::string blob(50000, '\0');
    for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<char>(i * 13 + 1);
    ASSERT_TRUE(client.sendText("setState"));
    ASSERT_TRUE(client.sendBinary(blob));
    ASSERT_TRUE(client.sendText("resume"));
    EXPECT_EQ(client.receiveText(), "bypass\nfalse");
    const auto after = block(1024, -0.3f, 0.0005f, -0.875f);
    expectHalf(roundTrip(after), after);
    ASSERT_TRUE(client.sendText("getState"));
    EXPECT_EQ(client.receiveText(), "state");
    EXPECT_EQ(client.receiveBinary(), blob);
}
