// "scanVSTs" over a real folder tree.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "HostFixture.h"
#include "scan/ScanReply.h"

using namespace testing_support;

namespace {

// Decodes the reply: a JSON array of strings. Fails the test on anything else.
std::vector<std::string> decodeList(const std::string& reply) {
    std::vector<std::string> items;
    std::size_t i = 0;
    auto fail = [&](const char* why) {
        ADD_FAILURE() << why << " at " << i << " in " << reply;
        return std::vector<std::string>();
    };
    if (reply.empty() || reply[i++] != '[') return fail("no opening bracket");
    if (reply[i] == ']') return i + 1 == reply.size() ? items : fail("trailing bytes");
    for (;;) {
        if (reply[i++] != '"') return fail("no opening quote");
        std::string item;
        while (i < reply.size() && reply[i] != '"') {
            char c = reply[i++];
            if (static_cast<unsigned char>(c) < 0x20) return fail("raw control character");
            if (c == '\\') {
                const char kind = reply[i++];
                if (kind == 'u') {
                    item += static_cast<char>(std::stoi(reply.substr(i, 4), nullptr, 16));
                    i += 4;
                    continue;
                }
                if (kind != '"' && kind != '\\') return fail("unexpected escape");
                c = kind;
            }
            item += c;
        }
        ++i;
        items.push_back(item);
        if (reply[i] == ']') return i + 1 == reply.size() ? items : fail("trailing bytes");
        if (reply[i++] != ',') return fail("no comma");
    }
}

class ScanTest : public HostTest {
protected:
    void SetUp() override {
        SKIP_UNLESS_NATIVE();  // the Windows walk has checks of its own
        HostTest::SetUp();
    }

    std::map<std::string, std::string> environment() override {
        char pattern[] = "/tmp/corvel-scan-XXXXXX";
        root = mkdtemp(pattern);
        build();
        return {{"DISPLAY", ""}, {"LXVST_PATH", root + "/a:" + root + "/b"}, {"VST_PATH", ""}};
    }

    void TearDown() override {
        HostTest::TearDown();
        if (!root.empty()) std::system(("rm -rf '" + root + "'").c_str());
    }

    void folder(const std::string& path) { mkdir((root + "/" + path).c_str(), 0755); }
    void file(const std::string& path) { std::ofstream(root + "/" + path) << "x"; }
    void link(const std::string& target, const std::string& path) {
        ASSERT_EQ(symlink(target.c_str(), (root + "/" + path).c_str()), 0);
    }

    void build() {
        for (const char* each : {"a", "a/Effects.so", "a/sub", "a/sub/deep", "b", "c", "x"}) folder(each);
        for (const char* each : {"a/one.so", "a/Effects.so/inner.so", "a/Synthso", "a/upper.SO",
                                 "a/notes.txt", "a/sub/deep/x.so", "c/c.so", "x/extra.so"})
            file(each);
        link(root + "/a", "a/loop");      // a cycle
        link(root + "/c", "a/linked");    // a folder reached through a link
        link(root + "/nowhere", "a/dangling.so");
        file("b/quote\"name.so");
        file("b/back\\slash.so");
        file("b/new\nline.so");
        file("b/bad\xff.so");
        file("b/emoji\xF0\x9F\x98\x80.so");
    }

    std::vector<std::string> scan(const std::string& message) {
        EXPECT_TRUE(client.sendText(message));
        auto reply = client.receiveText();
        EXPECT_TRUE(reply.has_value());
        if (!reply) return {};
        EXPECT_TRUE(isValidUtf8(*reply));
        return decodeList(*reply);
    }

    std::size_t position(const std::vector<std::string>& list, const std::string& path) {
        return std::find(list.begin(), list.end(), root + "/" + path) - list.begin();
    }

    std::string root;
};

}  // namespace

TEST_F(ScanTest, WalksTheFoldersLastFirstFilesBeforeSubFoldersEachOnceAndReportsOnlySharedObjects) {
    const auto found = scan("scanVSTs");
    std::vector<std::string> expected;
    for (const char* each : {"a/one.so", "a/Effects.so/inner.so", "a/sub/deep/x.so", "a/linked/c.so",
                             "b/quote\"name.so", "b/back\\slash.so", "b/new\nline.so",
                             "b/emoji\xF0\x9F\x98\x80.so"})
        expected.push_back(root + "/" + each);
    std::vector<std::string> sorted = found;
    std::sort(sorted.begin(), sorted.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sorted, expected);  // the cycle ended, bad UTF-8 and non-matches left out
    EXPECT_LT(position(found, "b/quote\"name.so"), position(found, "a/one.so"));
    EXPECT_LT(position(found, "a/one.so"), position(found, "a/sub/deep/x.so"));
    EXPECT_LT(position(found, "a/one.so"), position(found, "a/Effects.so/inner.so"));

    // An extra folder comes first; one seen before, a missing one or a
    // trailing space change nothing.
    const auto withExtra = scan("scanVSTs " + root + "/x");
    ASSERT_EQ(withExtra.size(), 9u);
    EXPECT_EQ(withExtra.front(), root + "/x/extra.so");
    const auto repeated = scan("scanVSTs " + root + "/a");
    EXPECT_EQ(repeated.size(), 8u);
    EXPECT_EQ(std::count(repeated.begin(), repeated.end(), root + "/a/one.so"), 1);
    EXPECT_EQ(scan("scanVSTs /no/such/folder"), found);
    EXPECT_EQ(scan("scanVSTs "), found);
}

class EmptyScanTest : public HostTest {
protected:
    void SetUp() override {
        SKIP_UNLESS_NATIVE();
        HostTest::SetUp();
    }

    std::map<std::string, std::string> environment() override {
        return {{"DISPLAY", ""}, {"LXVST_PATH", "/no/such/folder"}, {"VST_PATH", ""}};
    }
};

TEST_F(EmptyScanTest, NoFoldersGiveAnEmptyList) {
    ASSERT_TRUE(client.sendText("scanVSTs"));
    EXPECT_EQ(client.receiveText(), "[]");
}
