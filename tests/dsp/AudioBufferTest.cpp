#include <gtest/gtest.h>

#include <vector>

#include "TestSupport.h"
#include "dsp/AudioBuffer.h"

using Vexa::DSP::AudioBuffer;

namespace {

bool allZero(const AudioBuffer& buffer) {
    for (float* channel : buffer.channels)
        for (uint32_t i = 0; i < buffer.frames; ++i)
            if (channel[i] != 0.0f) return false;
    return true;
}

void scribble(AudioBuffer& buffer) {
    for (float* channel : buffer.channels)
        for (uint32_t i = 0; i < buffer.frames; ++i) channel[i] = 0.75f + static_cast<float>(i);
}

}  // namespace

TEST(AudioBuffer, StartsEmpty) {
    AudioBuffer buffer;
    EXPECT_EQ(buffer.frames, 0u);
    EXPECT_TRUE(buffer.channels.empty());
    EXPECT_EQ(buffer.getChannel(0), nullptr);
}

TEST(AudioBuffer, ZeroChannelCountOnEmptyBufferAllocatesNothing) {
    AudioBuffer buffer;
    EXPECT_TRUE(buffer.resize(256, 0));
    EXPECT_EQ(buffer.frames, 256u);
    EXPECT_TRUE(buffer.channels.empty());
    EXPECT_EQ(buffer.getChannel(0), nullptr);
}

TEST(AudioBuffer, ZeroChannelCountKeepsTheCurrentChannels) {
    AudioBuffer buffer;
    buffer.resize(64, 3);
    buffer.resize(128, 0);
    EXPECT_EQ(buffer.channels.size(), 3u);
    EXPECT_EQ(buffer.frames, 128u);
    EXPECT_TRUE(allZero(buffer));
}

TEST(AudioBuffer, SameSizeKeepsPointersAndSilences) {
    AudioBuffer buffer;
    ASSERT_TRUE(buffer.resize(512, 2));
    const std::vector<float*> before = buffer.channels;
    scribble(buffer);
    ASSERT_FALSE(allZero(buffer));

    EXPECT_TRUE(buffer.resize(512, 2));
    EXPECT_EQ(buffer.channels, before);
    EXPECT_TRUE(allZero(buffer));
}

TEST(AudioBuffer, FrameChangeGivesEveryChannelAFreshZeroedArray) {
    AudioBuffer buffer;
    buffer.resize(256, 2);
    scribble(buffer);

    const long allocationsBefore = corvel_test::totalAllocations();
    buffer.resize(1024, 2);
    EXPECT_EQ(corvel_test::totalAllocations() - allocationsBefore, 2);  // one per channel
    ASSERT_EQ(buffer.channels.size(), 2u);
    EXPECT_EQ(buffer.frames, 1024u);
    EXPECT_TRUE(allZero(buffer));
    for (uint32_t c = 0; c < 2; ++c) buffer.getChannel(c)[1023] = 1.0f;  // full length is ours
}

TEST(AudioBuffer, SameSizeAllocatesNothing) {
    AudioBuffer buffer;
    buffer.resize(256, 3);
    const long allocationsBefore = corvel_test::totalAllocations();
    buffer.resize(256, 3);
    buffer.resize(256, 0);
    EXPECT_EQ(corvel_test::totalAllocations(), allocationsBefore);
}

TEST(AudioBuffer, ChannelChangeReplacesAllArrays) {
    AudioBuffer buffer;
    buffer.resize(128, 2);
    scribble(buffer);
    const long allocationsBefore = corvel_test::totalAllocations();
    buffer.resize(128, 4);
    EXPECT_GE(corvel_test::totalAllocations() - allocationsBefore, 4);
    ASSERT_EQ(buffer.channels.size(), 4u);
    EXPECT_EQ(buffer.frames, 128u);
    EXPECT_TRUE(allZero(buffer));
    for (uint32_t c = 0; c < 4; ++c) EXPECT_NE(buffer.getChannel(c), nullptr);

    buffer.resize(128, 1);
    EXPECT_EQ(buffer.channels.size(), 1u);
    EXPECT_EQ(buffer.getChannel(1), nullptr);
}

TEST(AudioBuffer, ZeroFramesWithNewChannelCount) {
    AudioBuffer buffer;
    buffer.resize(32, 2);
    EXPECT_TRUE(buffer.resize(0, 3));
    EXPECT_EQ(buffer.frames, 0u);
    ASSERT_EQ(buffer.channels.size(), 3u);
    for (uint32_t c = 0; c < 3; ++c) EXPECT_NE(buffer.getChannel(c), nullptr);
}

TEST(AudioBuffer, ChannelIndexAtOrPastTheCountIsNull) {
    AudioBuffer buffer;
    buffer.resize(16, 2);
    EXPECT_NE(buffer.getChannel(1), nullptr);
    EXPECT_EQ(buffer.getChannel(2), nullptr);
    EXPECT_EQ(buffer.getChannel(0xFFFFFFFFu), nullptr);
}
