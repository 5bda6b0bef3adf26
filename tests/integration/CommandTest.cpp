// How the dispatcher recognises commands and copes with bad arguments.
#include "HostFixture.h"

using namespace testing_support;

using CommandTest = HostTest;

TEST_F(CommandTest, MessagesThatNameNoCommandCloseTheConnection) {
    for (const std::string& message : {std::string("\0suspend", 8), std::string("Suspend"), std::string(),
                                       std::string("bogus"), std::string("mid")}) {
        SCOPED_TRACE(message);
        closeStatusAfter({{0x81, message}});
    }
}

TEST_F(CommandTest, CommandWordsMatchAsPrefixesAndTextAfterAZeroByteIsCut) {
    ASSERT_TRUE(client.sendText(std::string("suspend\0garbage", 15)));
    EXPECT_EQ(client.receiveText(), "bypass\ntrue");
    ASSERT_TRUE(client.sendText("showGuiNow"));
    ASSERT_TRUE(client.sendText("suspended"));
    EXPECT_EQ(client.receiveText(), "bypass\ntrue");
    ASSERT_TRUE(client.sendText("resume please"));
    EXPECT_EQ(client.receiveText(), "bypass\nfalse");
}

TEST_F(CommandTest, SampleRatesAndBlockSizesAreReadPrintedAndBadOnesIgnored) {
    for (const char* message : {"sampleRate 48000", "sampleRate  96000", "sampleRate 44100.0", "sampleRate",
                                "sampleRate x", "sampleRate 0", "sampleRate -44100", "sampleRate 99999999999",
                                "sampleRate 1e300", "sampleRate 4.8e4", "sampleRate 48000x", "sampleRate 768001",
                                "bufsize 512", "bufsize\t256", "bufsize 128 1024", "bufsize 128", "bufsize",
                                "bufsize x", "bufsize 0", "bufsize -5", "bufsize 16385", "bufsize 4294967296",
                                "bufsize 1e3", "bufsize 512x"})
        ASSERT_TRUE(client.sendText(message));
    expectAlive();  // without a plug-in "bufsize" is not answered: "ready" would come first
    syncOutput("bufsize 64", "setting Host buffer size to 64");
    EXPECT_EQ(program->countLines("setting Host sample rate to 48000"), 1);
    EXPECT_EQ(program->countLines("setting Host sample rate to 96000"), 1);
    EXPECT_EQ(program->countLines("setting Host sample rate to 44100"), 1);  // the fraction dropped
    // Exponents, junk and rates out of range count as missing: nothing else is printed.
    EXPECT_EQ(program->output().find("setting Host sample rate to 1\n"), std::string::npos);
    EXPECT_EQ(program->output().find("setting Host sample rate to 4\n"), std::string::npos);
    EXPECT_EQ(program->output().find("setting Host sample rate to 768001"), std::string::npos);
    EXPECT_EQ(program->output().find("setting Host sample rate to 9999"), std::string::npos);
    EXPECT_EQ(program->output().find("setting Host sample rate to 0"), std::string::npos);
    EXPECT_EQ(program->output().find("setting Host sample rate to -"), std::string::npos);
    EXPECT_EQ(program->countLines("setting Host buffer size to 512"), 1);
    EXPECT_EQ(program->countLines("setting Host buffer size to 256"), 1);
    EXPECT_EQ(program->countLines("setting Host buffer size to 128"), 2);  // unchanged, still printed
    EXPECT_EQ(program->output().find("setting Host buffer size to 1\n"), std::string::npos);
    EXPECT_EQ(program->countLines("setting Host buffer size to 1024"), 1);  // the start-up line only
    EXPECT_EQ(program->output().find("setting Host buffer size to 0"), std::string::npos);
    EXPECT_EQ(program->output().find("setting Host buffer size to 16385"), std::string::npos);
}

TEST_F(CommandTest, CommandsThatNeedAPluginDoNothingWithoutOne) {
    for (const char* message : {"midi 144 60 100|", "midi", "midi garbage|x y|", "unload", "showGui",
                                "setState", "getState", "load", "load "}) {
        ASSERT_TRUE(client.sendText(message));
    }
    // "setState" armed: this binary message is taken as state, not audio.
    ASSERT_TRUE(client.sendBinary(std::string(16, '\x01')));
    // Nothing of the above sends anything, and getState did not leave the
    // worker waiting: the next reply is the one to "resume".
    expectAlive();
}
