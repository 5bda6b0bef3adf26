#include "scan/ScanReply.h"

#include <gtest/gtest.h>

TEST(ScanReply, WindowsRepliesQuotePathsAndTurnBackslashesIntoSlashes) {
    EXPECT_EQ(formatWindowsScanReply({}), "[]");
    EXPECT_EQ(formatWindowsScanReply({"C:\\x.dll"}), "[\"C:/x.dll\"]");
    const std::string two = formatWindowsScanReply({"C:\\VST\\a.dll", "D:\\b.dll"});
    EXPECT_EQ(two, "[\"C:/VST/a.dll\",\"D:/b.dll\"]");
    EXPECT_EQ(two.size(), 27u);
}

TEST(ScanReply, JsonRepliesEscapeWhatJsonNeedsAndLeaveOutBrokenUtf8) {
    EXPECT_EQ(formatJsonScanReply({}), "[]");
    EXPECT_EQ(formatJsonScanReply({"/a\"b\\c\n.so"}), "[\"/a\\\"b\\\\c\\u000a.so\"]");
    EXPECT_EQ(formatJsonScanReply({"/bad\xff.so", "/ok.so"}), "[\"/ok.so\"]");
    EXPECT_EQ(formatJsonScanReply({"/\xF0\x9F\x98\x80.so"}), "[\"/\xF0\x9F\x98\x80.so\"]");
}

TEST(ScanReply, Utf8ValidationRejectsOverlongsSurrogatesAndTruncation) {
    EXPECT_TRUE(isValidUtf8("plain"));
    EXPECT_TRUE(isValidUtf8("\xC3\xA9\xE2\x82\xAC\xF4\x8F\xBF\xBF"));
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));          // overlong slash
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));  // beyond U+10FFFF
    EXPECT_FALSE(isValidUtf8("\xE2\x82"));          // cut short
    EXPECT_FALSE(isValidUtf8("\x80"));
}
