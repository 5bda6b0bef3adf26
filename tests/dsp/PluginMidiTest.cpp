// MIDI as the plug-in receives it: which events, with which delta frames and
// flags, and when relative to the audio.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "dsp/VST2Plugin.h"

using namespace Vexa::DSP;
using namespace corvel_test;

namespace {

using Lines = std::vector<std::string>;

std::string eventLine(int status, int data1, int data2, int delta, int flags) {
    return "event status=" + std::to_string(status) + " data1=" + std::to_string(data1) +
           " data2=" + std::to_string(data2) + " delta=" + std::to_string(delta) +
           " flags=" + std::to_string(flags) + " type=1 size=32 zeroed=1";
}

class PluginMidi : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        ASSERT_TRUE(wrapper.load(pluginPath("gain")));
        mark();
    }

    // What the plug-in saw during one processed block.
    Lines processBlock() {
        mark();
        EXPECT_NE(wrapper.process(input.pointers), nullptr);
        return sinceMark();
    }

    StereoInput input{1024};
    VST2Plugin wrapper;
};

}  // namespace

TEST_F(PluginMidi, MessagesBecomeEventsDeliveredBeforeTheAudio) {
    wrapper.queueMidi({144, 60, 100});          // realtime, delta 0
    wrapper.queueMidi({144, 60, 100, 128});     // timed: delta 128, no flags
    wrapper.queueMidi({144, 60});               // too short: dropped
    wrapper.queueMidi({400, 61, 356});          // low bytes only
    wrapper.queueMidi({0xB0, 7, 64, 5, 9});     // five entries: extras ignored, realtime
    wrapper.queueMidi({-112, 62, 1, -4});       // negative delta passes through
    EXPECT_EQ(processBlock(), (Lines{"effProcessEvents count=5 reserved=0",
                                     eventLine(144, 60, 100, 0, 1),
                                     eventLine(144, 60, 100, 128, 0),
                                     eventLine(144, 61, 100, 0, 1),
                                     eventLine(176, 7, 64, 0, 1),
                                     eventLine(144, 62, 1, -4, 0),
                                     "processReplacing frames=1024"}));
}

TEST_F(PluginMidi, EventsGoWithOneBlockOnly) {
    wrapper.queueMidi({144, 60, 100});
    EXPECT_EQ(processBlock().size(), 3u);
    EXPECT_EQ(processBlock(), (Lines{"processReplacing frames=1024"}));
    EXPECT_EQ(wrapper.midiEvents.numEvents, 0);
}

TEST_F(PluginMidi, EventsQueuedWhileSuspendedArriveWithTheFirstBlockAfterResume) {
    wrapper.suspend();
    wrapper.queueMidi({144, 60, 100});
    wrapper.queueMidi({128, 60, 0, 512});
    mark();
    EXPECT_EQ(wrapper.process(input.pointers), nullptr);
    EXPECT_TRUE(sinceMark().empty());
    EXPECT_EQ(wrapper.midiEvents.numEvents, 2);

    wrapper.resume();
    EXPECT_EQ(processBlock(), (Lines{"effProcessEvents count=2 reserved=0",
                                     eventLine(144, 60, 100, 0, 1),
                                     eventLine(128, 60, 0, 512, 0),
                                     "processReplacing frames=1024"}));
}

TEST_F(PluginMidi, FullQueueKeepsTheFirst512AndDropsNewerOnes) {
    for (int i = 0; i < 600; ++i) wrapper.queueMidi({144, i % 128, 100, i});
    EXPECT_EQ(wrapper.midiEvents.numEvents, 512);
    const Lines lines = processBlock();
    ASSERT_EQ(lines.size(), 514u);
    EXPECT_EQ(lines[0], "effProcessEvents count=512 reserved=0");
    EXPECT_EQ(lines[1], eventLine(144, 0, 100, 0, 0));
    EXPECT_EQ(lines[512], eventLine(144, 511 % 128, 100, 511, 0));
    EXPECT_EQ(lines[513], "processReplacing frames=1024");

    // Room again once the block has gone.
    wrapper.queueMidi({144, 60, 100});
    EXPECT_EQ(processBlock()[0], "effProcessEvents count=1 reserved=0");
}

TEST_F(PluginMidi, EventsStayQueuedWhileBuffersAreNotReady) {
    wrapper.queueMidi({144, 60, 100});
    wrapper.buffersReady = false;  // as during a block-size change
    mark();
    EXPECT_EQ(wrapper.process(input.pointers), nullptr);
    EXPECT_TRUE(sinceMark().empty());
    wrapper.buffersReady = true;
    EXPECT_EQ(processBlock()[0], "effProcessEvents count=1 reserved=0");
}
