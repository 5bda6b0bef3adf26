// How the dispatcher recognises commands and copes with bad arguments.
#include "HostFixture.h"

using namespace testing_support;

using CommandTest = HostTest;

TEST_F(CommandTest,
       WordsMatchAsPrefixesBadArgumentsAreIgnoredAndPluginCommandsDoNothingWithoutOne) {
    EXPECT_EQ(client.ask(std::string("suspend\0garbage", 15)),
              "bypass\ntrue");  // cut at the zero byte
    ASSERT_TRUE(client.sendText("showGuiNow"));
    EXPECT_EQ(client.ask("suspended"), "bypass\ntrue");
    EXPECT_EQ(client.ask("resume please"), "bypass\nfalse");

    for (const char* message : {"sampleRate 48000",
                                "sampleRate  96000",
                                "sampleRate 44100.0",
                                "sampleRate",
                                "sampleRate x",
                                "sampleRate 0",
                                "sampleRate -44100",
                                "sampleRate 99999999999",
                                "sampleRate 1e300",
                                "sampleRate 4.8e4",
                                "sampleRate 48000x",
                                "sampleRate 768001",
                                "sampleRate 48000 junk",
                                "sampleRate48000",
                                "sampleRate\t22050",
                                "bufsize 512",
                                "bufsize\t256",
                                "bufsize 128 1024",
                                "bufsize 300 junk",
                                "bufsize 200 1e9",
                                "bufsize256",
                                "bufsize256 512",
                                "bufsize 128",
                                "bufsize 128 ",
                                "bufsize",
                                "bufsize x",
                                "bufsize 0",
                                "bufsize -5",
                                "bufsize 16385",
                                "bufsize 4294967296",
                                "bufsize 1e3",
                                "bufsize 512x",
                                "bufsize 64",
                                "midi 144 60 100|",
                                "midi",
                                "midi garbage|x y|",
                                "unload",
                                "showGui",
                                "setState",
                                "getState",
                                "load",
                                "load "})
        ASSERT_TRUE(client.sendText(message));
    // "setState" armed: this binary message is taken as state, not audio.
    ASSERT_TRUE(client.sendBinary(std::string(16, '\x01')));
    // Nothing of the above sends anything, not even "ready" for a block
    // size, and getState did not leave the worker waiting.
    expectAlive();
    ASSERT_TRUE(program->waitForOutput("setting Host buffer size to 64\n"));
    // Exponents, junk, a second word and values out of range count as
    // missing, and so does a number run into its word; a fraction is
    // dropped; an unchanged size is printed again.
    EXPECT_EQ(linesStartingWith(program->output(), {"setting Host "}),
              (std::vector<std::string>{
                  "setting Host buffer size to 1024", "setting Host sample rate to 48000",
                  "setting Host sample rate to 96000", "setting Host sample rate to 44100",
                  "setting Host sample rate to 22050", "setting Host buffer size to 512",
                  "setting Host buffer size to 256", "setting Host buffer size to 128",
                  "setting Host buffer size to 128", "setting Host buffer size to 64"}));
}
