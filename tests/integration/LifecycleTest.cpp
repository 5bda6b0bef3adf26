// Loading, replacing and unloading plug-ins through the real program.
#include "PluginFixture.h"

using namespace testing_support;

using LifecycleTest = PluginTest;

TEST_F(LifecycleTest, ALoadOpensAndConfiguresThePluginWithTheSettingsThenRepliesReadyAndLatency) {
    ASSERT_TRUE(client.sendText("sampleRate 48000"));
    ASSERT_TRUE(client.sendText("bufsize 256"));
    load("test_gain");
    const auto lines = log();
    const auto calls = linesStartingWith(
        lines, {"entry", "effOpen", "canDo", "effSetSampleRate", "effSetBlockSize", "effSetSpeakerArrangement",
                "effMainsChanged"});
    // canDo matches whole words exactly; there is no transport to tell the time of.
    const std::vector<std::string> expected = {
        "entry kind=gain via=VSTPluginMain version=2400", "effOpen",
        "canDo sizeWindow=1 SizeWindow=0 sizeWindowX=0 null=0 time=0", "effSetSampleRate 48000", "effSetBlockSize 256",
        "effSetSpeakerArrangement type=1 channels=2 same=1 zeroed=1", "effMainsChanged 1"};
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(countStartingWith(lines, "hostSampleRate 48000"), 2);  // asked at open and after the rate
    EXPECT_EQ(countStartingWith(lines, "hostBlockSize 256"), 1);
}

TEST_F(LifecycleTest, LoadingASecondPluginTearsTheFirstDownFirst) {
    load("test_gain");
    load("test_synth");
    const auto calls = linesStartingWith(log(), {"entry", "effMainsChanged", "effClose", "unloaded"});
    const std::vector<std::string> expected = {
        "entry kind=gain via=VSTPluginMain version=2400", "effMainsChanged 1", "effMainsChanged 0", "effClose",
        "unloaded kind=gain", "entry kind=synth via=VSTPluginMain version=2400", "effMainsChanged 1"};
    EXPECT_EQ(calls, expected);
    expectAlive();  // no further replies came
}

TEST_F(LifecycleTest, FailedLoadsSendNothingAndLeaveAWrapperThatAnswersEmpty) {
    load("test_gain");
    for (const std::string& path : {std::string("/no/such/plugin.so"), testPluginPath("test_no_entry"),
                                    testPluginPath("test_null_entry"), testPluginPath("test_bad_magic")}) {
        SCOPED_TRACE(path);
        ASSERT_TRUE(client.sendText("load " + path));
        // "getState" waits for the GUI thread, so the load has run by its
        // answer, and no "ready" came first.
        ASSERT_TRUE(client.sendText("getState"));
        EXPECT_EQ(client.receiveText(), "state failed");
        EXPECT_TRUE(roundTrip(block(1024, 0.0f, 0.0f, 0.0f)).empty());
    }
    EXPECT_TRUE(waitForLogLine(*program, "unloaded kind=gain"));
    EXPECT_EQ(countStartingWith(log(), "effOpen"), 1);
    ASSERT_TRUE(client.sendText("bufsize 512"));
    EXPECT_EQ(client.receiveText(), "ready");  // a wrapper exists, though empty
}

TEST_F(LifecycleTest, EntryPointsArePreferredInOrder) {
    load("test_main_only");
    load("test_both_entries");
    const auto entries = linesStartingWith(log(), {"entry"});
    const std::vector<std::string> expected = {"entry kind=main_only via=main version=2400",
                                               "entry kind=both_entries via=VSTPluginMain version=2400"};
    EXPECT_EQ(entries, expected);
}

TEST_F(LifecycleTest, TooManyOutputsFailWithoutAnOpcodeAndAreClosedAtUnload) {
    ASSERT_TRUE(client.sendText("load " + testPluginPath("test_outputs65")));
    ASSERT_TRUE(client.sendText("getState"));
    // The load has run, and failed; the plug-in has chunks but was never
    // opened, so it is not asked for them.
    EXPECT_EQ(client.receiveText(), "state failed");
    EXPECT_TRUE(roundTrip(block(1024, 0.0f, 0.0f, 0.0f)).empty());
    ASSERT_TRUE(client.sendText("bufsize 512"));
    EXPECT_EQ(client.receiveText(), "ready");  // the failed wrapper is still there
    ASSERT_TRUE(client.sendText("showGui"));
    ASSERT_TRUE(client.sendText("suspend"));
    EXPECT_EQ(client.receiveText(), "bypass\ntrue");
    ASSERT_TRUE(client.sendText("unload"));
    ASSERT_TRUE(waitForLogLine(*program, "unloaded"));
    const auto calls = linesStartingWith(log(), {"eff", "process", "unloaded"});
    const std::vector<std::string> expected = {"effMainsChanged 0", "effClose", "unloaded kind=outputs65"};
    EXPECT_EQ(calls, expected);
}

TEST_F(LifecycleTest, UnloadAndClosingTheConnectionCloseThePlugin) {
    load("test_gain");
    ASSERT_TRUE(client.sendText("unload"));
    ASSERT_TRUE(waitForLogLine(*program, "unloaded kind=gain"));
    ASSERT_TRUE(client.sendBinary(block(1024, 0.0f, 0.0f, 0.0f)));
    expectAlive();  // the block was dropped without a reply
    load("test_synth");
    client.disconnect();
    EXPECT_TRUE(waitForLogLine(*program, "unloaded kind=synth"));
}

TEST_F(LifecycleTest, TwoQuickLoadsLoadBothInOrderAndReportTheirSignedLatency) {
    ASSERT_TRUE(client.sendText("load " + testPluginPath("test_latency64")));
    ASSERT_TRUE(client.sendText("load " + testPluginPath("test_latency_neg3")));
    EXPECT_EQ(client.receiveText(10000), "ready");
    EXPECT_EQ(client.receiveText(), "fixedCompensationDelaySamp\n64");
    EXPECT_EQ(client.receiveText(10000), "ready");
    EXPECT_EQ(client.receiveText(), "fixedCompensationDelaySamp\n-3");
}

TEST_F(LifecycleTest, QuitWithAPluginLoadedClosesItAndEndsWithStatusZero) {
    load("test_gain");
    ASSERT_TRUE(client.sendText("quit"));
    EXPECT_EQ(program->waitExit(), 0);
    const auto calls = linesStartingWith(log(), {"effMainsChanged", "effClose", "unloaded"});
    const std::vector<std::string> expected = {"effMainsChanged 1", "effMainsChanged 0", "effClose",
                                               "unloaded kind=gain"};
    EXPECT_EQ(calls, expected);
}
