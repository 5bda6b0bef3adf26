// Audio blocks, MIDI and bypass through the real program.
#include "HostFixture.h"

using namespace testing_support;

using AudioTest = PluginTest;

TEST_F(AudioTest, EachBlockIsAnsweredFromItsOwnSamplesAndFollowsTheBlockSizeAndRate) {
    load("test_gain");
    const auto expectHalved =
        [](const std::vector<float>& input, const std::vector<float>& output) {
        ASSERT_EQ(output.size(), 2048u);
        for (std::size_t i = 0; i < output.size(); ++i)
            ASSERT_FLOAT_EQ(output[i], 0.5f * input[i]) << i;
    };
    // Fragmented after a larger message, the surplus past the block ignored.
    auto large = block(1024, 0.9f, -0.0001f, 0.7f);
    large.resize(12000, 0.3f);
    expectHalved(large, roundTrip(large));
    const auto fragmented = block(1024, 0.0f, 0.0005f, -0.75f);
    std::string bytes(reinterpret_cast<const char*>(fragmented.data()),
                      fragmented.size() * sizeof(float));
    bytes += std::string(808, '\x7f');
    ASSERT_TRUE(client.sendFrame(0x02, bytes.substr(0, 100)));
    ASSERT_TRUE(client.sendFrame(0x00, bytes.substr(100, 5000)));
    ASSERT_TRUE(client.sendFrame(0x80, bytes.substr(5100)));
    expectHalved(fragmented, floatsOf(client.receiveBinary().value_or("")));

    EXPECT_TRUE(
        roundTrip(block(1000, 0.0f, 0.0f, 0.0f)).empty());  // short of a block: nothing processed
    program->clearPluginLog();
    ASSERT_TRUE(client.sendText("sampleRate 48000"));
    ASSERT_TRUE(client.sendText("sampleRate 48000"));
    EXPECT_EQ(client.ask("bufsize 256"), "ready");
    const auto input = block(256, 1.0f, -0.001f, 0.5f);
    const auto output = roundTrip(input);
    ASSERT_EQ(output.size(), 512u);
    EXPECT_FLOAT_EQ(output[255], 0.5f * input[255]);
    EXPECT_FLOAT_EQ(output[256], 0.25f);
    EXPECT_EQ(logCount("effSetSampleRate 48000"), 2);  // each time
    EXPECT_EQ(logCount("effSetBlockSize 256"), 1);
    EXPECT_EQ(log({"processReplacing"}), std::vector<std::string>{"processReplacing frames=256"});
}

// The plug-in in a process of its own (MidiTest), and in the program's
// (InProcessMidiTest): the same checks, as each placement feeds the wrapper.
class MidiTest : public PluginTest {
protected:
    void reachesThePluginBeforeTheNextBlockInsideItAtMost512AtATimeAndWaitsForResume();
};

class InProcessMidiTest : public MidiTest {
protected:
    std::map<std::string, std::string> environment() override {
        auto env = headlessEnvironment();
        env["CORVEL_PLUGIN_PLACEMENT"] = "in-process";
        return env;
    }
};

TEST_F(
    MidiTest,
    ReachesThePluginBeforeTheNextBlockAtItsDeltaFrameInsideTheBlockAtMost512AtATimeAndWaitsForResume) {
    reachesThePluginBeforeTheNextBlockInsideItAtMost512AtATimeAndWaitsForResume();
}

TEST_F(
    InProcessMidiTest,
    ReachesThePluginBeforeTheNextBlockAtItsDeltaFrameInsideTheBlockAtMost512AtATimeAndWaitsForResume) {
    reachesThePluginBeforeTheNextBlockInsideItAtMost512AtATimeAndWaitsForResume();
}

void MidiTest::reachesThePluginBeforeTheNextBlockInsideItAtMost512AtATimeAndWaitsForResume() {
    load("test_synth");
    ASSERT_TRUE(client.sendText("midi 144 60 100|128 60 0 12|"));
    // Only whole numbers make an event; a word run into its argument has none.
    ASSERT_TRUE(client.sendText(
        "midi 999 60 100|144abc 60xyz 100!!|144 0x3C 100|144 60 100.0|144 60 1e2|144 128 1|"
        "127 1 1|176 7 99 5|176 8 9|"));
    ASSERT_TRUE(client.sendText("midi144 60 100|"));
    ASSERT_TRUE(client.sendText("midi|144 60 100|"));
    roundTrip(block(1024, 0.0f, 0.0f, 0.0f));
    roundTrip(block(1024, 0.0f, 0.0f, 0.0f));
    auto calls = log({"effProcessEvents", "event status", "processReplacing"});
    ASSERT_EQ(calls.size(), 7u);
    EXPECT_EQ(calls[0], "effProcessEvents count=4 reserved=0");
    // A MIDI event of its own size, every field it does not use zero.
    EXPECT_EQ(calls[1],
              "event status=144 data1=60 data2=100 delta=0 flags=1 type=1 size=32 zeroed=1");
    EXPECT_TRUE(startsWith(calls[2], "event status=128 data1=60 data2=0 delta=12 flags=0"));
    EXPECT_TRUE(startsWith(calls[3], "event status=176 data1=7 data2=99 delta=5 flags=0"));
    EXPECT_TRUE(startsWith(calls[4], "event status=176 data1=8 data2=9 delta=0 flags=1"));
    EXPECT_EQ(calls[5], "processReplacing frames=1024");
    EXPECT_EQ(calls[6], "processReplacing frames=1024");  // the next block carries no events

    program->clearPluginLog();
    std::string many = "midi ";
    for (int i = 0; i < 600; ++i)
        many += "176 1 " + std::to_string(i % 128) + " " + std::to_string(i) + "|";
    ASSERT_TRUE(client.sendText(many));
    roundTrip(block(1024, 0.0f, 0.0f, 0.0f));
    calls = log({"effProcessEvents", "event status"});
    ASSERT_EQ(calls.size(), 513u);
    EXPECT_EQ(calls[0], "effProcessEvents count=512 reserved=0");
    EXPECT_TRUE(startsWith(calls[512], "event status=176 data1=1 data2=127 delta=511"));

    // The synth's level is that of its held notes, over its input.
    ASSERT_TRUE(client.sendText("midi 144 64 127 100|"));
    auto output = roundTrip(block(1024, 0.0f, 0.0f, 0.125f));
    ASSERT_EQ(output.size(), 2048u);
    EXPECT_FLOAT_EQ(output[99], 0.0f);
    EXPECT_FLOAT_EQ(output[100], 0.5f);
    EXPECT_FLOAT_EQ(output[1024 + 99], 0.125f);
    EXPECT_FLOAT_EQ(output[1024 + 100], 0.625f);

    EXPECT_EQ(client.ask("suspend"), "bypass\ntrue");
    ASSERT_TRUE(client.sendText("midi 144 32 127|"));
    EXPECT_TRUE(roundTrip(block(1024, 0.0f, 0.0f, 0.0f)).empty());
    EXPECT_EQ(client.ask("resume"), "bypass\nfalse");
    output = roundTrip(block(1024, 0.0f, 0.0f, 0.0f));
    ASSERT_EQ(output.size(), 2048u);
    EXPECT_FLOAT_EQ(output[0],
                    0.5f + 0.25f);  // the note held before, and the one sent while suspended
    EXPECT_EQ(log({"effMainsChanged"}),
              (std::vector<std::string>{"effMainsChanged 0", "effMainsChanged 1"}));

    // Offsets outside the block play on its nearest frame, never past it.
    EXPECT_EQ(client.ask("bufsize 64"), "ready");
    program->clearPluginLog();
    ASSERT_TRUE(
        client.sendText("midi 144 1 1 -1|144 2 1 -2147483648|144 3 1 63|144 4 1 64|144 5 1 5000|"
                        "144 6 1 2147483647|144 7 1 +9|"));
    roundTrip(block(64, 0.0f, 0.0f, 0.0f));
    std::vector<std::string> deltas;
    for (const std::string& line : log({"event status"}))
        deltas.push_back(line.substr(0, line.find(" flags")));
    EXPECT_EQ(deltas, (std::vector<std::string>{"event status=144 data1=1 data2=1 delta=0",
                                                "event status=144 data1=2 data2=1 delta=0",
                                                "event status=144 data1=3 data2=1 delta=63",
                                                "event status=144 data1=4 data2=1 delta=63",
                                                "event status=144 data1=5 data2=1 delta=63",
                                                "event status=144 data1=6 data2=1 delta=63",
                                                "event status=144 data1=7 data2=1 delta=9"}));
}

// In this process the plug-in reads the received block where it lies and
// writes the reply; in a plug-in process it works in the shared block.
class ChannelLayoutTest : public PluginTest, public ::testing::WithParamInterface<const char*> {
protected:
    std::map<std::string, std::string> environment() override {
        auto variables = headlessEnvironment();
        variables["CORVEL_PLUGIN_PLACEMENT"] = GetParam();
        return variables;
    }
};

TEST_P(ChannelLayoutTest, EveryLayoutIsHeardOnBothSidesBlockAfterBlockInAlignedChannels) {
    // What each plug-in makes of a left and a right input sample, on each side.
    struct Layout {
        const char* plugin;
        float (*left)(float, float);
        float (*right)(float, float);
    };
    const Layout layouts[] = {
        // The accumulating entry adds to what the output holds: it must start from silence.
        {"test_accumulating", [](float l, float) { return 0.25f * l; },
         [](float, float r) { return 0.25f * r; }},
        // Inputs past the client's two must read silence (the plug-in logs whether they do).
        {"test_four_inputs", [](float l, float r) { return 0.5f * (l + r); },
         [](float l, float r) { return 0.5f * (l + r); }},
        {"test_mono_effect", [](float l, float) { return 0.5f * l; },
         [](float l, float) { return 0.5f * l; }},
        // A mono instrument, over each side's input.
        {"test_mono", [](float l, float) { return 0.125f + l; },
         [](float, float r) { return 0.125f + r; }},
        {"test_gain", [](float l, float) { return 0.5f * l; },
         [](float, float r) { return 0.5f * r; }},
    };
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.plugin);
        load(layout.plugin);
        // 257 frames: the message's second channel is not 16-byte aligned.
        for (const uint32_t frames : {1024u, 257u}) {
            ASSERT_EQ(client.ask("bufsize " + std::to_string(frames)), "ready");
            const auto input = block(frames, -0.5f, 0.001f, 0.25f);
            for (int round = 0; round < 3; ++round) {
                const auto output = roundTrip(input);
                ASSERT_EQ(output.size(), 2u * frames);
                for (std::size_t i = 0; i < frames; ++i) {
                    ASSERT_FLOAT_EQ(output[i], layout.left(input[i], input[frames + i])) << i;
                    ASSERT_FLOAT_EQ(output[frames + i], layout.right(input[i], input[frames + i]))
                        << i;
                }
            }
        }
    }
    EXPECT_EQ(log({"extraInputs"}), std::vector<std::string>(6, "extraInputs silent=1"));
    EXPECT_EQ(log({"misaligned"}), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Placements, ChannelLayoutTest,
                         ::testing::Values("in-process", "plug-in-process"));
