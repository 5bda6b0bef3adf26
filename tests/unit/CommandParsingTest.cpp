#include "host/CommandParsing.h"

#include <gtest/gtest.h>

using commands::argumentAt;
using commands::decimalArgument;
using commands::leadingInteger;
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

// Each delivered event as its words: status, data, and the offset when given.
Events midiEvents(std::string_view list, std::size_t limit = 512) {
    Events events;
    commands::forEachMidiEvent(list, limit, [&](const commands::MidiEvent& event) {
        std::vector<int32_t> words{event.status, event.data1, event.data2};
        if (event.frameOffset) words.push_back(*event.frameOffset);
        events.push_back(words);
    });
    return events;
}

TEST(CommandParsing, EveryMidiEventMustBeClosedByABar) {
    EXPECT_EQ(midiEvents("144 60 100"), Events{});
    EXPECT_EQ(midiEvents("144 60 100|"), (Events{{144, 60, 100}}));
    EXPECT_EQ(midiEvents("144 60 100|128 60 0|"), (Events{{144, 60, 100}, {128, 60, 0}}));
    EXPECT_EQ(midiEvents("144 60 100 12|"), (Events{{144, 60, 100, 12}}));
    EXPECT_EQ(midiEvents("144 60 100 12 7|"), (Events{{144, 60, 100}}));
    EXPECT_EQ(midiEvents("144 60 100||"), (Events{{144, 60, 100}}));
    EXPECT_EQ(midiEvents("144 60 100|128 60 0"), (Events{{144, 60, 100}}));
    EXPECT_EQ(midiEvents(""), Events{});
}

TEST(CommandParsing, ABadMidiEventIsDroppedAndTheOthersKept) {
    EXPECT_EQ(midiEvents("144 x 100|128 60 0|"), (Events{{128, 60, 0}}));
    EXPECT_EQ(midiEvents("144 99999999999 100|176 1 2|"), (Events{{176, 1, 2}}));
    EXPECT_EQ(midiEvents(" +144\t1  0x90 |"), (Events{{144, 1, 0}}));
    EXPECT_EQ(midiEvents("999 60 100|127 60 100|256 1 1|255 0 0|"), (Events{{255, 0, 0}}));
    EXPECT_EQ(midiEvents("144 128 1|144 1 -1|144 60 100 -2147483648|144 60 100 2147483647|"),
              (Events{{144, 60, 100, 2147483647}}));
}

TEST(CommandParsing, TheMidiCapAppliesWhileParsing) {
    std::string list;
    for (int i = 0; i < 600; ++i) list += "144 60 100|";
    EXPECT_EQ(midiEvents(list).size(), 512u);
    EXPECT_EQ(midiEvents("1 2 3|144 1 1|144 2 2|144 3 3|", 2), (Events{{144, 1, 1}, {144, 2, 2}}));
}

TEST(CommandParsing, DecimalArgumentsDropAFractionAndRefuseAnythingElse) {
    EXPECT_EQ(decimalArgument("44100", 1, 768000), 44100);
    EXPECT_EQ(decimalArgument("44100.0", 1, 768000), 44100);
    EXPECT_EQ(decimalArgument("44100.", 1, 768000), 44100);
    EXPECT_EQ(decimalArgument("512.75", 1, 16384), 512);
    EXPECT_EQ(decimalArgument("768000", 1, 768000), 768000);
    for (const char* missing : {"1e300", "4.8e4", "1e3", "48000x", "48000.0x", "0x100", ".5", "",
                                "768001", "0", "-1", "99999999999", "48 000"})
        EXPECT_EQ(decimalArgument(missing, 1, 768000), std::nullopt) << missing;
}

TEST(CommandParsing, ArgumentsAtAFixedOffsetAreEmptyWhenTheMessageIsShorter) {
    EXPECT_EQ(argumentAt("load /a b.so", 5), "/a b.so");
    EXPECT_EQ(argumentAt("load ", 5), "");
    EXPECT_EQ(argumentAt("load", 5), "");
    EXPECT_EQ(argumentAt("midi|144 60 100|", 5), "144 60 100|");
}
