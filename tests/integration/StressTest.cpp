// Audio streamed without pause while loads, unloads, block-size changes and
// state restores race with it on the GUI thread.
#include <random>

#include "HostFixture.h"

using namespace testing_support;

using StressTest = PluginTest;

TEST_F(StressTest, BlocksRacingWithLoadsSizesAndRestoresAlwaysGetOneSoundReply) {
    const std::string plugins[] = {testPluginPath("test_gain"), testPluginPath("test_chunks")};
    const uint32_t sizes[] = {64, 128, 256, 1024};
    const char* const otherCommands[] = {"resume", "midi 144 60 100|", "getState"};
    std::mt19937 random(7);
    uint32_t frames = 1024;
    int blocks = 0, processed = 0, loads = 0;
    std::string stateBlob;
    bool expectStateBlob = false;

    // Until the first load has run there is no wrapper, and blocks get no reply.
    load("test_gain");
    // Wine's sockets are much slower: fewer steps keep the run in its time.
    const int steps = ProgramUnderTest::isNative() ? 1500 : 300;
    for (int step = 0; step < steps; ++step) {
        const unsigned action = random() % 20;
        if (action == 0) {
            ASSERT_TRUE(client.sendText("load " + plugins[random() % 2]));
            ++loads;
        } else if (action == 1) {
            frames = sizes[random() % 4];
            ASSERT_TRUE(client.sendText("bufsize " + std::to_string(frames)));
        } else if (action == 2) {
            ASSERT_TRUE(client.sendText("setState"));
            ASSERT_TRUE(client.sendBinary(stateBlob.empty() ? std::string(40, '\x02') : stateBlob));
        } else if (action < 6) {
            ASSERT_TRUE(client.sendText(otherCommands[action - 3]));
        }
        // One block, then read until its reply: text replies may come first.
        const auto input = block(frames, 0.25f, 0.0001f, -0.5f);
        ASSERT_TRUE(client.sendBinary(input));
        ++blocks;
        for (;;) {
            auto message = client.receive(10000);
            ASSERT_TRUE(message.has_value())
                << "no reply to block " << blocks << " (step " << step << ")";
            ASSERT_NE(message->opcode, 8) << "the connection closed";
            if (message->isText()) {
                expectStateBlob = message->payload == "state";
                continue;
            }
            if (expectStateBlob) {  // the state that "getState" sent, not audio
                stateBlob = message->payload;
                expectStateBlob = false;
                continue;
            }
            const auto output = floatsOf(message->payload);
            if (!output.empty()) {
                ASSERT_EQ(output.size(), 2u * frames) << "block " << blocks;
                for (std::size_t i = 0; i < output.size(); i += 17)
                    ASSERT_FLOAT_EQ(output[i], 0.5f * input[i])
                        << "block " << blocks << " sample " << i;
                ++processed;
            }
            break;
        }
    }
    EXPECT_GT(loads, steps / 50);
    EXPECT_GT(processed, blocks / 3) << "most blocks should have been processed";
    // Unload, then the program must still answer (and end cleanly). Replies
    // of the last loads may still be on their way; read up to the answer to
    // "resume".
    ASSERT_TRUE(client.sendText("unload"));
    ASSERT_TRUE(client.sendText("resume"));
    const auto texts = textsUntil("bypass\nfalse");
    EXPECT_TRUE(!texts.empty() && texts.back() == "bypass\nfalse") << "no answer to resume";
}
