#include "host/CommandParsing.h"

#include <gtest/gtest.h>

using commands::argumentAt;
using commands::leadingInteger;
using commands::midiEvents;
using commands::splitWords;
using Events = std::vector<std::vector<int32_t>>;

TEST(CommandParsing, LeadingIntegerReadsSignAndDigitsUpToTheFirstOtherByte) {
    EXPECT_EQ(leadingInteger("144abc"), 144);
    EXPECT_EQ(leadingInteger("+5"), 5);
    EXPECT_EQ(leadingInteger("-1"), -1);
    EXPECT_EQ(leadingInteger("0x90"), 0);
    EXPECT_EQ(leadingInteger("2147483647"), 2147483647);
    EXPECT_EQ(leadingInteger("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(leadingInteger("2147483648"), std::nullopt);
    EXPECT_EQ(leadingInteger("-2147483649"), std::nullopt);
    EXPECT_EQ(leadingInteger("x1"), std::nullopt);
    EXPECT_EQ(leadingInteger("-"), std::nullopt);
    EXPECT_EQ(leadingInteger(""), std::nullopt);
    EXPECT_EQ(leadingInteger(" 1"), std::nullopt);
}

TEST(CommandParsing, WordsAreSplitAtRunsOfAnyWhiteSpace) {
    const auto words = splitWords(" \tbufsize \n\r\v\f 512  1024 ");
    ASSERT_EQ(words.size(), 3u);
    EXPECT_EQ(words[0], "bufsize");
    EXPECT_EQ(words[1], "512");
    EXPECT_EQ(words[2], "1024");
    EXPECT_TRUE(splitWords("   ").empty());
}

TEST(CommandParsing, EveryMidiEventMustBeClosedByABar) {
    EXPECT_EQ(midiEvents("144 60 100"), Events{});
    EXPECT_EQ(midiEvents("144 60 100|"), (Events{{144, 60, 100}}));
    EXPECT_EQ(midiEvents("144 60 100|128 60 0|"), (Events{{144, 60, 100}, {128, 60, 0}}));
    EXPECT_EQ(midiEvents("144 60 100 12|"), (Events{{144, 60, 100, 12}}));
    EXPECT_EQ(midiEvents("144 60 100||"), (Events{{144, 60, 100}, {}}));
    EXPECT_EQ(midiEvents("144 60 100|128 60 0"), (Events{{144, 60, 100}}));
    EXPECT_EQ(midiEvents(""), Events{});
}

TEST(CommandParsing, AMidiEventWithABadWordIsLeftOutAndTheOthersKept) {
    EXPECT_EQ(midiEvents("144 x 100|128 60 0|"), (Events{{128, 60, 0}}));
    EXPECT_EQ(midiEvents("144 99999999999 100|176 1 2|"), (Events{{176, 1, 2}}));
    EXPECT_EQ(midiEvents(" +144\t-1  0x90 |"), (Events{{144, -1, 0}}));
}

TEST(CommandParsing, ArgumentsAtAFixedOffsetAreEmptyWhenTheMessageIsShorter) {
    EXPECT_EQ(argumentAt("load /a b.so", 5), "/a b.so");
    EXPECT_EQ(argumentAt("load ", 5), "");
    EXPECT_EQ(argumentAt("load", 5), "");
    EXPECT_EQ(argumentAt("midi|144 60 100|", 5), "144 60 100|");
}
