// State chunks: what the wrapper asks for and hands over, and how it
// switches the plug-in off around a restore.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "TestSupport.h"
#include "dsp/VST2Plugin.h"

using namespace Vexa::DSP;
using namespace corvel_test;

namespace {

using Lines = std::vector<std::string>;
using Bytes = std::vector<unsigned char>;

Bytes bytesOf(const StateBlob& blob) {
    const auto* data = static_cast<const unsigned char*>(blob.data);
    return data ? Bytes(data, data + blob.size) : Bytes();
}

// A blob the chunks plug-in accepts: "CVTS", payload length, payload, fnv1a.
Bytes validBlob(std::size_t payload, unsigned char seed) {
    Bytes blob(payload + 12);
    std::memcpy(blob.data(), "CVTS", 4);
    for (int i = 0; i < 4; ++i) blob[4 + i] = static_cast<unsigned char>(payload >> (8 * i));
    for (std::size_t i = 0; i < payload; ++i) blob[8 + i] = static_cast<unsigned char>(seed + i * 13);
    const uint32_t check = fnv1a(blob.data() + 8, payload);
    for (int i = 0; i < 4; ++i) blob[8 + payload + i] = static_cast<unsigned char>(check >> (8 * i));
    return blob;
}

std::string setChunkLine(const Bytes& blob, bool valid) {
    return "effSetChunk index=1 size=" + std::to_string(blob.size()) +
           " hash=" + hex32(fnv1a(blob.data(), blob.size())) + " valid=" + (valid ? "1" : "0");
}

class PluginState : public PluginTest {
protected:
    StereoInput input{1024};
};

}  // namespace

TEST_F(PluginState, GetStateAsksForTheCurrentProgramsChunk) {
    VST2Plugin wrapper;
    ASSERT_TRUE(wrapper.load(pluginPath("chunks")));
    mark();
    const StateBlob blob = wrapper.getState();
    ASSERT_NE(blob.data, nullptr);
    ASSERT_EQ(blob.size, 1000);
    const Bytes bytes = bytesOf(blob);
    EXPECT_EQ(std::memcmp(bytes.data(), "CVTS", 4), 0);
    EXPECT_EQ(sinceMark(),
              (Lines{"effGetChunk index=1 size=1000 hash=" + hex32(fnv1a(bytes.data(), 1000))}));
    // Reading the state does not disturb processing.
    EXPECT_NE(wrapper.process(input.pointers), nullptr);
}

TEST_F(PluginState, SetStateSwitchesOffOnceAndHandsTheBytesOver) {
    VST2Plugin wrapper;
    ASSERT_TRUE(wrapper.load(pluginPath("chunks")));
    const Bytes first = validBlob(500, 7);
    mark();
    wrapper.setState(first.data(), first.size());
    EXPECT_EQ(sinceMark(), (Lines{"effMainsChanged 0", setChunkLine(first, true)}));
    EXPECT_TRUE(wrapper.suspended);
    EXPECT_EQ(wrapper.process(input.pointers), nullptr);

    // A second restore while off: no further switching, bytes still verbatim
    // (even ones the plug-in calls invalid).
    Bytes second = validBlob(2000, 99);
    second[100] ^= 0x5A;
    mark();
    wrapper.setState(second.data(), second.size());
    EXPECT_EQ(sinceMark(), (Lines{setChunkLine(second, false)}));
    EXPECT_EQ(wrapper.process(input.pointers), nullptr);
    EXPECT_EQ(bytesOf(wrapper.getState()), second);

    mark();
    wrapper.resume();
    EXPECT_NE(wrapper.process(input.pointers), nullptr);
    EXPECT_EQ(sinceMark(), (Lines{"effMainsChanged 1", "processReplacing frames=1024"}));
}

TEST_F(PluginState, RoundTripReturnsTheSameBytes) {
    VST2Plugin wrapper;
    ASSERT_TRUE(wrapper.load(pluginPath("chunks")));
    const Bytes saved = bytesOf(wrapper.getState());
    const Bytes other = validBlob(64, 1);
    wrapper.setState(other.data(), other.size());
    ASSERT_EQ(bytesOf(wrapper.getState()), other);
    wrapper.setState(saved.data(), saved.size());
    EXPECT_EQ(bytesOf(wrapper.getState()), saved);
    EXPECT_EQ(countLines(log(), setChunkLine(saved, true)), 1u);
}

TEST_F(PluginState, SetStateAfterSuspendDoesNotSwitchAgain) {
    VST2Plugin wrapper;
    ASSERT_TRUE(wrapper.load(pluginPath("chunks")));
    wrapper.suspend();
    const Bytes blob = validBlob(10, 3);
    mark();
    wrapper.setState(blob.data(), blob.size());
    EXPECT_EQ(sinceMark(), (Lines{setChunkLine(blob, true)}));
}

TEST_F(PluginState, PluginWithoutChunksIsNeverAsked) {
    VST2Plugin wrapper;
    ASSERT_TRUE(wrapper.load(pluginPath("gain")));
    mark();
    const StateBlob blob = wrapper.getState();
    EXPECT_EQ(blob.data, nullptr);
    EXPECT_EQ(blob.size, 0);
    const Bytes bytes = validBlob(16, 0);
    wrapper.setState(bytes.data(), bytes.size());
    EXPECT_TRUE(sinceMark().empty());
    EXPECT_FALSE(wrapper.suspended);
    EXPECT_NE(wrapper.process(input.pointers), nullptr);
}
