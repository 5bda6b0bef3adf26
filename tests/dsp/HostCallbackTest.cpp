// The host callback, asked directly and asked by a real plug-in.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "TestSupport.h"
#include "dsp/HostCallback.h"
#include "dsp/HostSettings.h"
#include "dsp/VST2Plugin.h"

using namespace Vexa::DSP;
using namespace Vexa::DSP::VST2;
using namespace corvel_test;

namespace {

intptr_t ask(AEffect* effect, int32_t opcode, int32_t index = 0, intptr_t value = 0,
             void* ptr = nullptr) {
    return hostCallback(effect, opcode, index, value, ptr, 0.0f);
}

intptr_t canDo(const char* text) {
    return ask(nullptr, audioMasterCanDo, 0, 0, const_cast<char*>(text));
}

class HostCallbackTest : public PluginTest {};

}  // namespace

TEST_F(HostCallbackTest, AnswersTheFixedRequestsWithOrWithoutARecord) {
    hostSampleRate = 48000;
    hostBlockSize = 256;
    AEffect record{};
    for (AEffect* effect : {static_cast<AEffect*>(nullptr), &record}) {
        EXPECT_EQ(ask(effect, audioMasterVersion), 2400);
        EXPECT_EQ(ask(effect, audioMasterIdle), 1);
        EXPECT_EQ(ask(effect, audioMasterGetTime), 0);
        EXPECT_EQ(ask(effect, audioMasterIOChanged), 0);
        EXPECT_EQ(ask(effect, audioMasterGetSampleRate), 48000);
        EXPECT_EQ(ask(effect, audioMasterGetBlockSize), 256);
        EXPECT_EQ(ask(effect, audioMasterGetCurrentProcessLevel), 1);
    }
}

TEST_F(HostCallbackTest, DeclinesEveryOtherRequest) {
    const std::map<int32_t, intptr_t> answered = {
        {audioMasterVersion, 2400}, {audioMasterIdle, 1},
        {audioMasterGetSampleRate, 44100}, {audioMasterGetBlockSize, 1024},
        {audioMasterGetCurrentProcessLevel, 1}};
    AEffect record{};
    char buffer[256] = {};
    for (int32_t opcode = -2; opcode < 80; ++opcode) {
        if (answered.count(opcode)) continue;
        // A buffer pointer as the string questions pass; nothing may be written.
        EXPECT_EQ(ask(&record, opcode, 3, 4, buffer), 0) << "opcode " << opcode;
        EXPECT_EQ(buffer[0], 0) << "opcode " << opcode;
    }
    EXPECT_TRUE(resizeRecords().empty());
}

TEST_F(HostCallbackTest, SettingsAnswersFollowTheHostSettings) {
    EXPECT_EQ(ask(nullptr, audioMasterGetSampleRate), 44100);
    EXPECT_EQ(ask(nullptr, audioMasterGetBlockSize), 1024);
    hostSampleRate = 96000;
    hostBlockSize = 16384;
    EXPECT_EQ(ask(nullptr, audioMasterGetSampleRate), 96000);
    EXPECT_EQ(ask(nullptr, audioMasterGetBlockSize), 16384);
}

TEST_F(HostCallbackTest, CanDoMatchesTwoWordsExactly) {
    EXPECT_EQ(canDo("sizeWindow"), 1);
    EXPECT_EQ(canDo("sendVstMidiEvent"), 1);
    for (const char* other :
         {"SizeWindow", "sizewindow", "SIZEWINDOW", "sendVstMidiEvents", "SendVstMidiEvent",
          "sizeWindowX", "sizeWindow ", " sizeWindow", "size", "", "sendVstEvents",
          "receiveVstEvents", "receiveVstMidiEvent", "receiveVstTimeInfo",
          "reportConnectionChanges", "acceptIOChanges", "sizeWindo", "openFileSelector",
          "startStopProcess", "supplyIdle", "offline", "shellCategory"})
        EXPECT_EQ(canDo(other), 0) << '"' << other << '"';
    EXPECT_EQ(canDo(nullptr), 0);
}

TEST_F(HostCallbackTest, SizeRequestWithoutAWrapperDoesNothing) {
    EXPECT_EQ(ask(nullptr, audioMasterSizeWindow, 640, 480), 0);
    AEffect record{};  // resvd1 still 0: the wrapper has not claimed it yet
    EXPECT_EQ(ask(&record, audioMasterSizeWindow, 640, 480), 0);
    EXPECT_TRUE(resizeRecords().empty());
}

TEST_F(HostCallbackTest, SizeRequestGoesToTheWrappersEditorWindow) {
    VST2Plugin wrapper;
    AEffect record{};
    record.resvd1 = reinterpret_cast<intptr_t>(&wrapper);

    EXPECT_EQ(ask(&record, audioMasterSizeWindow, 640, 480), 0);
    EXPECT_TRUE(resizeRecords().empty()) << "no editor window open, nothing to resize";

    const auto frame = reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(0x5eed));
    wrapper.editorWindow = frame;
    EXPECT_EQ(ask(&record, audioMasterSizeWindow, 640, 480), 0);
    const auto records = resizeRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].width, 640);
    EXPECT_EQ(records[0].height, 480);
    EXPECT_EQ(records[0].frame, frame);
}

// The same answers, as a plug-in compiled on its own sees them through the
// record the wrapper built.
TEST_F(HostCallbackTest, PluginSeesTheAnswersThroughItsRecord) {
    hostSampleRate = 88200;
    hostBlockSize = 512;
    {
        VST2Plugin wrapper;
        ASSERT_TRUE(wrapper.load(pluginPath("gain")));
        const auto lines = log();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[0], "entry kind=gain via=VSTPluginMain");
        EXPECT_EQ(lines[1], "hostVersion 2400");  // asked with a null record

        const long open = indexOf(lines, "effOpen");
        ASSERT_GE(open, 0);
        char wrapperAddress[32];
        std::snprintf(wrapperAddress, sizeof wrapperAddress, "resvd1 %llx",
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&wrapper)));
        const std::vector<std::string> expected = {
            "effOpen",
            wrapperAddress,
            "hostSampleRate 88200",
            "hostBlockSize 512",
            "canDo sizeWindow=1 sendVstMidiEvent=1 SizeWindow=0 receiveVstTimeInfo=0 empty=0 "
            "sizeWindowX=0 null=0",
            "hostTime 0",
            "processLevel 1",
            "hostOther idle=1 ioChanged=0 currentId=0"};
        ASSERT_GE(lines.size(), open + expected.size());
        EXPECT_EQ(std::vector<std::string>(lines.begin() + open,
                                           lines.begin() + open + static_cast<long>(expected.size())),
                  expected);
        // After a rate change the plug-in's own question gets the new rate.
        hostSampleRate = 48000;
        wrapper.setSampleRate(48000);
        const auto after = log();
        ASSERT_GE(after.size(), 2u);
        EXPECT_EQ(after[after.size() - 2], "effSetSampleRate 48000");
        EXPECT_EQ(after.back(), "hostSampleRate 48000");
    }
}
