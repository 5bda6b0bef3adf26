// "scanVSTs" over a real folder tree.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "HostFixture.h"

using namespace testing_support;

namespace {

class ScanTest : public HostTest {
protected:
    void SetUp() override {
        SKIP_UNLESS_NATIVE();  // the Windows walk has checks of its own
        HostTest::SetUp();
    }

    std::map<std::string, std::string> environment() override {
        char pattern[] = "/tmp/corvel-scan-XXXXXX";
        root = mkdtemp(pattern);
        for (const char* each : {"a", "a/Effects.so", "a/sub", "a/sub/deep", "b", "c", "x"})
            mkdir((root + "/" + each).c_str(), 0755);
        for (const char* each :
             {"a/one.so", "a/Effects.so/inner.so", "a/Synthso", "a/upper.SO", "a/notes.so.txt",
              "a/sub/deep/x.so", "c/c.so", "x/extra.so", "b/quote\"name.so", "b/back\\slash.so",
              "b/new\nline.so", "b/bad\xff.so", "b/emoji\xF0\x9F\x98\x80.so"})
            std::ofstream(root + "/" + each) << "x";
        // A cycle, a folder reached through a link, and a link to nothing.
        for (const auto& [target, path] : {std::pair<std::string, std::string>{"a", "a/loop"},
                                           {"c", "a/linked"},
                                           {"nowhere", "a/dangling.so"}})
            EXPECT_EQ(symlink((root + "/" + target).c_str(), (root + "/" + path).c_str()), 0);
        return {{"DISPLAY", ""}, {"LXVST_PATH", root + "/a:" + root + "/b"}, {"VST_PATH", ""}};
    }

    void TearDown() override {
        HostTest::TearDown();
        if (!root.empty()) std::filesystem::remove_all(root);
    }

    std::string scan(const std::string& message) {
        return client.ask(message).value_or("no reply");
    }

    // Where the path is in the reply, as a JSON string; npos when it is not.
    std::size_t position(const std::string& reply, const std::string& path) {
        return reply.find('"' + root + "/" + path + '"');
    }

    std::string root;
};

}  // namespace

TEST_F(ScanTest, WalksTheFoldersLastFirstFilesBeforeSubFoldersEachOnceAndReportsOnlySharedObjects) {
    const std::string found = scan("scanVSTs");
    ASSERT_EQ(found.front(), '[');
    ASSERT_EQ(found.back(), ']');
    // Escaped as JSON; the cycle ended, bad UTF-8 and non-matches left out.
    const char* expected[] = {"a/one.so",
                              "a/Effects.so/inner.so",
                              "a/sub/deep/x.so",
                              "a/linked/c.so",
                              "b/quote\\\"name.so",
                              "b/back\\\\slash.so",
                              "b/new\\u000aline.so",
                              "b/emoji\xF0\x9F\x98\x80.so"};
    for (const char* path : expected)
        EXPECT_NE(position(found, path), std::string::npos) << path << " in " << found;
    EXPECT_EQ(std::count(found.begin(), found.end(), ','), 7) << found;
    EXPECT_LT(position(found, "b/quote\\\"name.so"), position(found, "a/one.so"));
    EXPECT_LT(position(found, "a/one.so"), position(found, "a/sub/deep/x.so"));
    EXPECT_LT(position(found, "a/one.so"), position(found, "a/Effects.so/inner.so"));

    // An extra folder comes first; one seen before, a missing one or a
    // trailing space change nothing.
    const std::string withExtra = scan("scanVSTs " + root + "/x");
    EXPECT_EQ(withExtra.rfind("[\"" + root + "/x/extra.so\",", 0), 0u) << withExtra;
    EXPECT_EQ(withExtra.size(), found.size() + root.size() + 14);
    const std::string repeated = scan("scanVSTs " + root + "/a");
    EXPECT_EQ(repeated.size(), found.size()) << repeated;
    EXPECT_EQ(repeated.find("one.so"), repeated.rfind("one.so"));
    EXPECT_EQ(scan("scanVSTs /no/such/folder"), found);
    EXPECT_EQ(scan("scanVSTs "), found);
}

// Walks of "/" by 63 clients that then leave hold no place, no thread and no
// walk: the next client is served at once, a walk of its own is not kept
// waiting, later replies keep their order, and quit ends a pending walk.
TEST_F(ScanTest, WalksOfClientsThatLeftHoldNothingAndRepliesKeepTheirOrder) {
    std::vector<std::unique_ptr<WsClient>> leaving;
    for (int i = 0; i < 63; ++i) {
        leaving.push_back(std::make_unique<WsClient>());
        ASSERT_TRUE(connectClient(*leaving.back())) << i;
        ASSERT_TRUE(leaving.back()->sendText("scanVSTs /"));
    }
    for (auto& each : leaving) each->disconnect();
    WsClient next;
    EXPECT_TRUE(waitUntil([&] { return connectClient(next); }, 5000)) << "no place came free";

    ASSERT_TRUE(client.sendText("scanVSTs"));
    ASSERT_TRUE(client.sendText("resume"));
    const auto reply = client.receiveText(5000);
    ASSERT_TRUE(reply) << "the walk waited behind the abandoned ones";
    EXPECT_EQ(reply->front(), '[');
    EXPECT_EQ(client.receiveText(), "bypass\nfalse");

    ASSERT_TRUE(next.sendText("scanVSTs /"));
    ASSERT_TRUE(client.sendText("quit"));
    EXPECT_EQ(program->waitExit(3000), 0) << "quit waited for the walk";
}
