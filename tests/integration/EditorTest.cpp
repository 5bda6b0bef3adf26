// Editor windows on a real X server.
#include <cstdlib>
#include <functional>

#include "../support/X11WindowProbe.h"
#include "HostFixture.h"

using namespace testing_support;

namespace {

// Named after the plug-in's own name, else its file name.
const std::string title = "Corvel VST/Remote - test_editor";
const std::string resizingTitle = "Corvel VST/Remote - Resizing Editor";

bool noWindow(const std::vector<WindowInfo>& windows) {
    return windows.empty();
}

// One window so titled, shown, its frame and content at the editor's size.
std::function<bool(const std::vector<WindowInfo>&)> oneShownAt(int width, int height) {
    return [=](const std::vector<WindowInfo>& windows) {
        return windows.size() == 1 && windows[0].mapped && windows[0].contentWidth == width &&
               windows[0].contentHeight == height && windows[0].width == width &&
               windows[0].height == height;
    };
}

// A program that keeps the display, and its own top-level windows on it.
class EditorTest : public PluginTest {
protected:
    std::map<std::string, std::string> environment() override { return {}; }

    void SetUp() override {
        SKIP_UNLESS_NATIVE();  // the Windows editor windows have checks of their own
        if (!std::getenv("DISPLAY") || !screen.available())
            GTEST_SKIP() << "needs an X server (the test script runs these under Xvfb)";
        PluginTest::SetUp();
        screen.onlyProcess(program->processId());
    }

    std::vector<std::string> editorCalls() {
        return log({"effEditGetRect", "effEditOpen", "effEditClose"});
    }

    X11WindowProbe screen;
};

}  // namespace

TEST_F(EditorTest,
       ALoadShowsTheFrameWhichIsIdledRaisedClosedReopenedGoesWithTheUnloadAndComesBackAfterACrash) {
    load("test_editor");
    // "ready" came after the window was up, at the editor's size.
    ASSERT_TRUE(oneShownAt(400, 300)(screen.windowsTitled(title)));
    const std::vector<std::string> opening = {"effEditGetRect rect=400x300", "effEditOpen",
                                              "effEditGetRect rect=400x300"};
    EXPECT_EQ(editorCalls(), opening);
    ASSERT_TRUE(waitForLog("effEditIdle"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_GE(logCount("effEditIdle"), 5);

    // While open, showGui only raises it. Closed by the user, the plug-in
    // stays, told before its window went; showGui opens a new frame.
    program->clearPluginLog();
    ASSERT_TRUE(client.sendText("showGui"));
    expectAlive();
    auto windows = screen.windowsTitled(title);
    ASSERT_EQ(windows.size(), 1u);
    screen.requestClose(windows[0].id);
    ASSERT_TRUE(screen.waitFor(title, noWindow));
    EXPECT_TRUE(waitForLog("effEditClose"));
    EXPECT_EQ(editorCalls(), (std::vector<std::string>{"effEditGetRect rect=400x300",
                                                       "effEditClose window=open"}));
    EXPECT_EQ(roundTrip(block(1024, 0.0f, 0.0f, 0.0f)).size(), 2048u);
    program->clearPluginLog();
    ASSERT_TRUE(client.sendText("showGui"));
    ASSERT_TRUE(screen.waitFor(title, oneShownAt(400, 300)));
    EXPECT_EQ(editorCalls(), opening);

    ASSERT_TRUE(client.sendText("unload"));
    EXPECT_TRUE(screen.waitFor(title, noWindow));
    EXPECT_TRUE(waitForLog("unloaded kind=editor"));
    EXPECT_EQ(log({"effEditClose", "effClose"}),
              (std::vector<std::string>{"effEditClose window=open", "effClose"}));

    // A crash with the editor open: the relaunch opens it again, and the
    // next load closes it while it stands.
    program->clearPluginLog();
    load("test_abort_in_process_editor");
    ASSERT_TRUE(client.sendBinary(std::vector<float>(2048, -999.0f)));
    EXPECT_EQ(
        textsUntil("fixedCompensationDelaySamp\n0"),
        (std::vector<std::string>{"crashed\nsignal 6", "ready", "fixedCompensationDelaySamp\n0"}));
    // A plug-in without an editor rectangle gets a default frame.
    load("test_no_editor");
    EXPECT_TRUE(screen.waitFor("Corvel VST/Remote - test_no_editor",
                               [](const std::vector<WindowInfo>& windows) {
        return windows.size() == 1 && windows[0].mapped && windows[0].width > 0;
    }));
    EXPECT_EQ(log({"effEditOpen", "effEditClose", "fault"}),
              (std::vector<std::string>{"effEditOpen", "fault in processReplacing", "effEditOpen",
                                        "effEditClose window=open", "effEditOpen"}));
}

TEST_F(EditorTest, EachSessionHasItsOwnEditorSizedClosedAndShownOnItsOwn) {
    WsClient other;
    ASSERT_TRUE(connectClient(other));
    load("test_editor");
    loadOn(other, "test_size_request");
    ASSERT_TRUE(screen.waitFor(title, oneShownAt(400, 300)));
    EXPECT_TRUE(screen.waitFor(resizingTitle, oneShownAt(640, 480)));
    // A controller change makes the plug-in ask from a thread of its own.
    ASSERT_TRUE(other.sendText("midi 176 20 50|"));
    ASSERT_TRUE(other.sendBinary(block(1024, 0.0f, 0.0f, 0.0f)));
    ASSERT_TRUE(other.receiveBinary().has_value());
    EXPECT_TRUE(screen.waitFor(resizingTitle, oneShownAt(500, 250)));

    screen.requestClose(screen.windowsTitled(title)[0].id);
    ASSERT_TRUE(screen.waitFor(title, noWindow));
    EXPECT_EQ(screen.windowsTitled(resizingTitle).size(), 1u);
    ASSERT_TRUE(other.sendText("showGui"));  // raises its own, opens nothing else
    expectAlive(other);
    EXPECT_TRUE(screen.windowsTitled(title).empty());
    ASSERT_TRUE(client.sendText("showGui"));
    EXPECT_TRUE(screen.waitFor(title, oneShownAt(400, 300)));
    EXPECT_EQ(screen.windowsTitled(resizingTitle).size(), 1u);

    // Quitting closes both editors while their windows still stand (after the user's close).
    ASSERT_TRUE(client.sendText("quit"));
    EXPECT_EQ(program->waitExit(20000), 0);
    EXPECT_EQ(log({"effEditClose"}), std::vector<std::string>(3, "effEditClose window=open"));
}
