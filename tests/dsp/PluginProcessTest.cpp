// What comes out of a processed block, for each kind of plug-in the host
// has to treat differently.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "TestSupport.h"
#include "dsp/HostSettings.h"
#include "dsp/VST2Plugin.h"

using namespace Vexa::DSP;
using namespace corvel_test;

namespace {

using Lines = std::vector<std::string>;

// Checks every sample and names the first wrong one.
::testing::AssertionResult channelIs(const float* actual, uint32_t frames,
                                     const std::function<float(uint32_t)>& expected) {
    if (!actual) return ::testing::AssertionFailure() << "channel is null";
    for (uint32_t i = 0; i < frames; ++i) {
        const float want = expected(i);
        if (std::fabs(actual[i] - want) > 1e-6f * std::max(1.0f, std::fabs(want)))
            return ::testing::AssertionFailure()
                   << "sample " << i << " is " << actual[i] << ", expected " << expected(i);
    }
    return ::testing::AssertionSuccess();
}

float noteLevel(int note, int velocity) {
    return (note / 128.0f) * (velocity / 127.0f);
}

class PluginProcess : public PluginTest {
protected:
    AudioBuffer* run(VST2Plugin& wrapper) { return wrapper.process(input.pointers); }

    StereoInput input{1024};
};

}  // namespace

TEST_F(PluginProcess, EffectReturnsOnlyItsOwnOutput) {
    VST2Plugin wrapper;
    ASSERT_TRUE(wrapper.load(pluginPath("gain")));
    for (int block = 0; block < 2; ++block) {
        AudioBuffer* out = run(wrapper);
        ASSERT_EQ(out, &wrapper.outputBuffers);
        EXPECT_TRUE(channelIs(out->getChannel(0), 1024, [&](uint32_t i) { return 0.5f * input.left[i]; }));
        EXPECT_TRUE(channelIs(out->getChannel(1), 1024, [&](uint32_t i) { return 0.5f * input.right[i]; }));
    }
    EXPECT_EQ(countLines(log(), "processReplacing frames=1024"), 2u);
}

TEST_F(PluginProcess, SynthOutputCarriesTheInputMixedUnder) {
    VST2Plugin wrapper;
    ASSERT_TRUE(wrapper.load(pluginPath("synth")));
    const float c4 = noteLevel(60, 100);
    const float e4 = noteLevel(64, 90);

    auto expectBlock = [&](const std::function<float(uint32_t)>& level) {
        AudioBuffer* out = run(wrapper);
        ASSERT_NE(out, nullptr);
        EXPECT_TRUE(channelIs(out->getChannel(0), 1024,
                              [&](uint32_t i) { return level(i) + input.left[i]; }));
        EXPECT_TRUE(channelIs(out->getChannel(1), 1024,
                              [&](uint32_t i) { return level(i) + input.right[i]; }));
    };

    // Nothing held: the input alone.
    expectBlock([](uint32_t) { return 0.0f; });
    // A note from frame 128 on.
    wrapper.queueMidi({144, 60, 100, 128});
    expectBlock([&](uint32_t i) { return i >= 128 ? c4 : 0.0f; });
    // Held across the block boundary; a second note from frame 0, the first
    // released at frame 300.
    wrapper.queueMidi({0x90, 64, 90, 0});
    wrapper.queueMidi({0x80, 60, 0, 300});
    expectBlock([&](uint32_t i) { return i < 300 ? c4 + e4 : e4; });
    // Note-on with velocity 0 releases too.
    wrapper.queueMidi({0x90, 64, 0, 10});
    expectBlock([&](uint32_t i) { return i < 10 ? e4 : 0.0f; });
}

// The synth flag, not the missing inputs, is what makes it an instrument.
TEST_F(PluginProcess, SynthWithInputsAlsoGetsTheInputMixedUnder) {
    VST2Plugin wrapper;
    ASSERT_TRUE(wrapper.load(pluginPath("synth_with_inputs")));
    ASSERT_EQ(wrapper.effect->numInputs, 2);
    wrapper.queueMidi({144, 72, 127});
    AudioBuffer* out = run(wrapper);
    ASSERT_NE(out, nullptr);
    const float c5 = noteLevel(72, 127);
    EXPECT_TRUE(channelIs(out->getChannel(0), 1024, [&](uint32_t i) { return c5 + input.left[i]; }));
    EXPECT_TRUE(channelIs(out->getChannel(1), 1024, [&](uint32_t i) { return c5 + input.right[i]; }));
}

TEST_F(PluginProcess, AccumulatingEntryStartsFromSilenceEveryBlock) {
    VST2Plugin wrapper;
    ASSERT_TRUE(wrapper.load(pluginPath("accumulating")));
    for (int block = 0; block < 3; ++block) {
        AudioBuffer* out = run(wrapper);
        ASSERT_NE(out, nullptr);
        EXPECT_TRUE(channelIs(out->getChannel(0), 1024, [&](uint32_t i) { return 0.25f * input.left[i]; }))
            << "block " << block;
        EXPECT_TRUE(channelIs(out->getChannel(1), 1024, [&](uint32_t i) { return 0.25f * input.right[i]; }))
            << "block " << block;
    }
    const Lines lines = log();
    EXPECT_EQ(countLines(lines, "process frames=1024"), 3u);
    EXPECT_EQ(countLines(lines, "processReplacing frames=1024"), 0u);
}

TEST_F(PluginProcess, InputsPastTheClientsTwoAreSilentEveryBlock) {
    VST2Plugin wrapper;
    ASSERT_TRUE(wrapper.load(pluginPath("four_inputs")));
    EXPECT_EQ(wrapper.inputBuffers.channels.size(), 4u);
    EXPECT_EQ(wrapper.outputBuffers.channels.size(), 2u);
    for (int block = 0; block < 3; ++block) {
        AudioBuffer* out = run(wrapper);
        ASSERT_NE(out, nullptr);
        for (uint32_t c = 0; c < 2; ++c)
            EXPECT_TRUE(channelIs(out->getChannel(c), 1024, [&](uint32_t i) {
                return 0.5f * (input.left[i] + input.right[i]);
            }));
        // The plug-in scribbled on its extra inputs; the next block must not see it.
        EXPECT_EQ(wrapper.inputBuffers.getChannel(2)[0], 1234.5f);
    }
    EXPECT_EQ(countLines(log(), "extraInputs silent=1"), 3u);
    EXPECT_EQ(countLines(log(), "extraInputs silent=0"), 0u);
}

// One output: it is heard on both sides, and with no inputs the host mixes
// the client's input under it without letting it pile up block after block.
TEST_F(PluginProcess, MonoInstrumentIsHeardOnBothSidesWithoutAccumulating) {
    VST2Plugin wrapper;
    ASSERT_TRUE(wrapper.load(pluginPath("mono")));
    EXPECT_EQ(wrapper.inputBuffers.channels.size(), 2u);
    EXPECT_EQ(wrapper.outputBuffers.channels.size(), 2u);
    for (int block = 0; block < 3; ++block) {
        AudioBuffer* out = run(wrapper);
        ASSERT_NE(out, nullptr);
        // Its one output on both sides, each with its own input mixed under.
        EXPECT_TRUE(channelIs(out->getChannel(0), 1024, [&](uint32_t i) { return 0.125f + input.left[i]; }))
            << "block " << block;
        EXPECT_TRUE(channelIs(out->getChannel(1), 1024, [&](uint32_t i) { return 0.125f + input.right[i]; }))
            << "block " << block;
    }
}

TEST_F(PluginProcess, MonoEffectIsHeardOnBothSides) {
    VST2Plugin wrapper;
    ASSERT_TRUE(wrapper.load(pluginPath("mono_effect")));
    EXPECT_EQ(wrapper.inputBuffers.channels.size(), 2u);
    EXPECT_EQ(wrapper.outputBuffers.channels.size(), 2u);
    for (int block = 0; block < 3; ++block) {
        AudioBuffer* out = run(wrapper);
        ASSERT_NE(out, nullptr);
        // It hears the left input only, and both sides carry what it made of it.
        EXPECT_TRUE(channelIs(out->getChannel(0), 1024, [&](uint32_t i) { return 0.5f * input.left[i]; }))
            << "block " << block;
        EXPECT_TRUE(channelIs(out->getChannel(1), 1024, [&](uint32_t i) { return 0.5f * input.left[i]; }))
            << "block " << block;
    }
}
