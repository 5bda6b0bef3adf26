// Loading, configuring, switching and tearing down real plug-in modules.
#include <gtest/gtest.h>

#include <memory>

#include "TestSupport.h"
#include "dsp/HostSettings.h"
#include "dsp/VST2Plugin.h"

using namespace Vexa::DSP;
using namespace corvel_test;

namespace {

using Lines = std::vector<std::string>;

struct Flags {
    bool loaded, suspended, buffersReady;
    bool operator==(const Flags& other) const {
        return loaded == other.loaded && suspended == other.suspended &&
               buffersReady == other.buffersReady;
    }
};

std::ostream& operator<<(std::ostream& out, const Flags& flags) {
    return out << "{loaded " << flags.loaded << ", suspended " << flags.suspended
               << ", buffersReady " << flags.buffersReady << "}";
}

Flags flagsOf(const VST2Plugin& wrapper) {
    return {wrapper.loaded.load(), wrapper.suspended.load(), wrapper.buffersReady.load()};
}

constexpr Flags kEmpty{false, false, false};
constexpr Flags kRunning{true, false, true};
constexpr Flags kSuspended{true, true, true};

const Lines kLoadOpcodes = {"effOpen",
                            "effSetSampleRate 44100",
                            "effSetBlockSize 1024",
                            "effSetSpeakerArrangement type=1 channels=2 same=1 zeroed=1",
                            "effMainsChanged 1"};

class PluginLoad : public PluginTest {
protected:
    float silentLeft[16384] = {};
    float silentRight[16384] = {};
    float* silence[2] = {silentLeft, silentRight};
};

}  // namespace

TEST_F(PluginLoad, OpensAndConfiguresInOrderThenRuns) {
    VST2Plugin wrapper;
    ASSERT_TRUE(wrapper.load(pluginPath("gain")));
    EXPECT_EQ(opcodes(), kLoadOpcodes);
    EXPECT_EQ(flagsOf(wrapper), kRunning);
    ASSERT_NE(wrapper.effect, nullptr);
    EXPECT_EQ(wrapper.effect->resvd1, reinterpret_cast<intptr_t>(&wrapper));
    EXPECT_EQ(wrapper.inputBuffers.channels.size(), 2u);
    EXPECT_EQ(wrapper.outputBuffers.channels.size(), 2u);
    EXPECT_EQ(wrapper.outputBuffers.frames, 1024u);
    EXPECT_EQ(wrapper.inputBuffers.frames, 1024u);
    EXPECT_EQ(wrapper.process(silence), &wrapper.outputBuffers);
}

TEST_F(PluginLoad, ConfiguresWithTheCurrentHostSettings) {
    hostSampleRate = 96000;
    hostBlockSize = 512;
    VST2Plugin wrapper;
    ASSERT_TRUE(wrapper.load(pluginPath("gain")));
    const Lines ops = opcodes();
    EXPECT_EQ(countLines(ops, "effSetSampleRate 96000"), 1u);
    EXPECT_EQ(countLines(ops, "effSetBlockSize 512"), 1u);
    EXPECT_EQ(wrapper.outputBuffers.frames, 512u);
    wrapper.process(silence);
    EXPECT_EQ(log().back(), "processReplacing frames=512");
}

TEST_F(PluginLoad, TeardownSwitchesOffClosesThenReleasesTheModule) {
    auto wrapper = std::make_unique<VST2Plugin>();
    ASSERT_TRUE(wrapper->load(pluginPath("gain")));
    mark();
    wrapper.reset();
    EXPECT_EQ(sinceMark(), (Lines{"effMainsChanged 0", "effClose", "unloaded kind=gain"}));
}

TEST_F(PluginLoad, TeardownSwitchesOffEvenWhenAlreadySuspended) {
    auto wrapper = std::make_unique<VST2Plugin>();
    ASSERT_TRUE(wrapper->load(pluginPath("gain")));
    wrapper->suspend();
    mark();
    wrapper.reset();
    EXPECT_EQ(sinceMark(), (Lines{"effMainsChanged 0", "effClose", "unloaded kind=gain"}));
}

TEST_F(PluginLoad, EmptyWrapperRefusesEverythingQuietly) {
    VST2Plugin wrapper;
    EXPECT_EQ(flagsOf(wrapper), kEmpty);
    EXPECT_EQ(wrapper.effect, nullptr);
    EXPECT_EQ(wrapper.process(silence), nullptr);
    wrapper.suspend();
    wrapper.resume();
    wrapper.setSampleRate(48000);
    wrapper.setBlockSize(256);
    EXPECT_EQ(flagsOf(wrapper), kEmpty);
    EXPECT_EQ(wrapper.getLatency(), 0);
    int32_t width = -7, height = -9;
    EXPECT_FALSE(wrapper.getEditorRect(width, height));
    EXPECT_EQ(width, -7);
    EXPECT_EQ(height, -9);
    EXPECT_FALSE(wrapper.openEditor(nullptr));
    const StateBlob blob = wrapper.getState();
    EXPECT_EQ(blob.data, nullptr);
    EXPECT_EQ(blob.size, 0);
}

// ---- entry points and rejected modules ----

TEST_F(PluginLoad, ModuleWithOnlyMainLoadsThroughIt) {
    VST2Plugin wrapper;
    ASSERT_TRUE(wrapper.load(pluginPath("main_only")));
    const Lines lines = log();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "entry kind=main_only via=main");
    EXPECT_EQ(opcodes(), kLoadOpcodes);
}

TEST_F(PluginLoad, ModuleWithBothEntriesIsEnteredOnceThroughVSTPluginMain) {
    VST2Plugin wrapper;
    ASSERT_TRUE(wrapper.load(pluginPath("both_entries")));
    const Lines lines = log();
    EXPECT_EQ(countLines(lines, "entry kind=both_entries via=VSTPluginMain"), 1u);
    EXPECT_EQ(countLines(lines, "entry kind=both_entries via=main"), 0u);
}

struct RejectedModule {
    const char* kind;
    bool entered;  // whether the entry point ran (and logged)
};

void PrintTo(const RejectedModule& module, std::ostream* out) {
    *out << module.kind;
}

class PluginRejected : public PluginTest, public ::testing::WithParamInterface<RejectedModule> {};

TEST_P(PluginRejected, FailsWithoutCallingTheRecordAndStillReleasesTheModule) {
    const RejectedModule module = GetParam();
    auto wrapper = std::make_unique<VST2Plugin>();
    EXPECT_FALSE(wrapper->load(pluginPath(module.kind)));
    EXPECT_EQ(flagsOf(*wrapper), kEmpty);
    EXPECT_EQ(wrapper->effect, nullptr);
    EXPECT_NE(wrapper->module, nullptr);  // kept until the wrapper goes
    float left[1024] = {}, right[1024] = {};
    float* inputs[2] = {left, right};
    EXPECT_EQ(wrapper->process(inputs), nullptr);
    wrapper->suspend();
    wrapper->setBlockSize(1024);
    wrapper.reset();

    const Lines lines = log();
    EXPECT_TRUE(opcodeLines(lines).empty());
    const std::string entry = "entry kind=" + std::string(module.kind) + " via=VSTPluginMain";
    EXPECT_EQ(countLines(lines, entry), module.entered ? 1u : 0u);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "unloaded kind=" + std::string(module.kind));
}

INSTANTIATE_TEST_SUITE_P(Modules, PluginRejected,
                         ::testing::Values(RejectedModule{"no_entry", false},
                                           RejectedModule{"null_entry", true},
                                           RejectedModule{"bad_magic", true}),
                         [](const auto& info) { return std::string(info.param.kind); });

TEST_F(PluginLoad, MissingFileFails) {
    VST2Plugin wrapper;
    EXPECT_FALSE(wrapper.load(pluginPath("does_not_exist")));
    EXPECT_EQ(wrapper.module, nullptr);
    EXPECT_EQ(wrapper.effect, nullptr);
    EXPECT_EQ(flagsOf(wrapper), kEmpty);
}

TEST_F(PluginLoad, TooManyOutputsFailsBeforeAnyOpcodeButIsClosedAtTeardown) {
    auto wrapper = std::make_unique<VST2Plugin>();
    EXPECT_FALSE(wrapper->load(pluginPath("outputs65")));
    EXPECT_EQ(flagsOf(*wrapper), kEmpty);
    EXPECT_NE(wrapper->effect, nullptr);  // the record is kept for teardown
    EXPECT_TRUE(opcodes().empty());
    EXPECT_EQ(wrapper->process(silence), nullptr);

    // A plug-in that was never opened is asked nothing, though it claims
    // chunks and an editor.
    wrapper->setBlockSize(512);
    wrapper->setSampleRate(48000);
    wrapper->suspend();
    wrapper->resume();
    EXPECT_EQ(wrapper->getState().data, nullptr);
    const char blob[] = "state";
    wrapper->setState(blob, sizeof blob);
    int32_t width = 0;
    int32_t height = 0;
    EXPECT_FALSE(wrapper->getEditorRect(width, height));
    EXPECT_FALSE(wrapper->openEditor(nullptr));
    wrapper->sendEditorIdle();
    wrapper->closeEditor();
    EXPECT_TRUE(opcodes().empty());

    wrapper.reset();
    EXPECT_EQ(opcodes(), (Lines{"effMainsChanged 0", "effClose"}));
    EXPECT_EQ(log().back(), "unloaded kind=outputs65");
}

// Events queued on a wrapper that never got a plug-in are freed with it.
TEST_F(PluginLoad, QueuedEventsOfAFailedWrapperAreFreed) {
    const long before = liveAllocations();
    {
        VST2Plugin wrapper;
        EXPECT_FALSE(wrapper.load(pluginPath("null_entry")));
        for (int i = 0; i < 3; ++i) wrapper.queueMidi({144, 60 + i, 100});
        EXPECT_EQ(wrapper.midiEvents.numEvents, 3);
    }
    EXPECT_EQ(liveAllocations(), before);
}

// ---- switching on and off ----

TEST_F(PluginLoad, SuspendTwiceSwitchesOffOnceAndResumeTwiceSwitchesOnOnce) {
    VST2Plugin wrapper;
    ASSERT_TRUE(wrapper.load(pluginPath("gain")));
    mark();
    wrapper.resume();  // already running
    EXPECT_TRUE(sinceMark().empty());

    wrapper.suspend();
    wrapper.suspend();
    EXPECT_EQ(flagsOf(wrapper), kSuspended);
    EXPECT_EQ(wrapper.process(silence), nullptr);
    EXPECT_EQ(sinceMark(), (Lines{"effMainsChanged 0"}));

    mark();
    wrapper.resume();
    wrapper.resume();
    EXPECT_EQ(flagsOf(wrapper), kRunning);
    EXPECT_EQ(sinceMark(), (Lines{"effMainsChanged 1"}));
    EXPECT_NE(wrapper.process(silence), nullptr);
}

// ---- settings while loaded ----

TEST_F(PluginLoad, SampleRateChangeIsSentWithoutSwitchingOff) {
    VST2Plugin wrapper;
    ASSERT_TRUE(wrapper.load(pluginPath("gain")));
    mark();
    hostSampleRate = 48000;
    wrapper.setSampleRate(48000);
    EXPECT_EQ(opcodeLines(sinceMark()), (Lines{"effSetSampleRate 48000"}));
    EXPECT_EQ(flagsOf(wrapper), kRunning);
}

TEST_F(PluginLoad, BlockSizeChangeResizesBuffersAndProcessesTheNewLength) {
    VST2Plugin wrapper;
    ASSERT_TRUE(wrapper.load(pluginPath("gain")));
    for (uint32_t frames : {256u, 4096u, 16384u, 1u}) {
        mark();
        hostBlockSize = frames;
        wrapper.setBlockSize(frames);
        EXPECT_EQ(flagsOf(wrapper), kRunning);
        EXPECT_EQ(wrapper.outputBuffers.frames, frames);
        EXPECT_EQ(wrapper.inputBuffers.frames, frames);
        for (uint32_t c = 0; c < 2; ++c)
            EXPECT_EQ(wrapper.outputPointers[c], wrapper.outputBuffers.getChannel(c));
        ASSERT_NE(wrapper.process(silence), nullptr);
        EXPECT_EQ(sinceMark(), (Lines{"effSetBlockSize " + std::to_string(frames),
                                      "processReplacing frames=" + std::to_string(frames)}));
    }
}

// A plug-in whose counts stop fitting leaves the wrapper not ready: blocks
// are refused, but the new size is still announced.
TEST_F(PluginLoad, FailedBufferPreparationStopsProcessing) {
    VST2Plugin wrapper;
    ASSERT_TRUE(wrapper.load(pluginPath("gain")));
    wrapper.effect->numOutputs = 65;
    mark();
    hostBlockSize = 512;
    wrapper.setBlockSize(512);
    EXPECT_EQ(flagsOf(wrapper), (Flags{true, false, false}));
    EXPECT_EQ(wrapper.process(silence), nullptr);
    EXPECT_EQ(sinceMark(), (Lines{"effSetBlockSize 512"}));

    wrapper.effect->numOutputs = 2;
    wrapper.setBlockSize(512);
    EXPECT_EQ(flagsOf(wrapper), kRunning);
    EXPECT_NE(wrapper.process(silence), nullptr);
}

TEST_F(PluginLoad, LatencyIsTheRecordsInitialDelay) {
    struct Case {
        const char* kind;
        int32_t latency;
    };
    for (const Case& each : {Case{"gain", 0}, Case{"latency64", 64}, Case{"latency_neg3", -3}}) {
        VST2Plugin wrapper;
        ASSERT_TRUE(wrapper.load(pluginPath(each.kind)));
        EXPECT_EQ(wrapper.getLatency(), each.latency) << each.kind;
    }
}
