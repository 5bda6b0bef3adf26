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

bool noWindow(const std::vector<WindowInfo>& windows) { return windows.empty(); }

// One window so titled, shown, its frame and content at the editor's size.
std::function<bool(const std::vector<WindowInfo>&)> oneShownAt(int width, int height) {
    return [=](const std::vector<WindowInfo>& windows) {
        return windows.size() == 1 && windows[0].mapped && windows[0].contentWidth == width &&
               windows[0].contentHeight == height && windows[0].width == width && windows[0].height == height;
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

    // The editor calls so far, without the parent window's id; a close
    // names the state the parent window was in when it came.
    std::vector<std::string> editorCalls() {
        auto calls = log({"effEditGetRect", "effEditOpen", "effEditClose"});
        for (std::string& call : calls) call = call.substr(0, call.find(" parent="));
        return calls;
    }

    X11WindowProbe screen;
};

}  // namespace

TEST_F(EditorTest, ALoadShowsTheFrameWhichIsIdledRaisedClosedReopenedAndGoesWithTheUnload) {
    load("test_editor");
    // "ready" came after the window was up, at the editor's size.
    ASSERT_TRUE(oneShownAt(400, 300)(screen.windowsTitled(title)));
    const std::vector<std::string> opening = {"effEditGetRect rect=400x300", "effEditOpen",
                                              "effEditGetRect rect=400x300"};
    EXPECT_EQ(editorCalls(), opening);
    ASSERT_TRUE(waitForLog("effEditIdle"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_GE(logCount("effEditIdle"), 5);

    // While open, showGui only raises it.
    program->clearPluginLog();
    ASSERT_TRUE(client.sendText("showGui"));
    expectAlive();
    ASSERT_TRUE(waitForLog("effEditGetRect"));
    EXPECT_EQ(editorCalls(), std::vector<std::string>{"effEditGetRect rect=400x300"});

    // Closed by the user, the plug-in stays, told before its window went;
    // showGui opens a new frame.
    auto windows = screen.windowsTitled(title);
    ASSERT_EQ(windows.size(), 1u);
    program->clearPluginLog();
    screen.requestClose(windows[0].id);
    ASSERT_TRUE(screen.waitFor(title, noWindow));
    EXPECT_TRUE(waitForLog("effEditClose"));
    EXPECT_EQ(editorCalls(), std::vector<std::string>{"effEditClose window=open"});
    EXPECT_EQ(roundTrip(block(1024, 0.0f, 0.0f, 0.0f)).size(), 2048u);
    program->clearPluginLog();
    ASSERT_TRUE(client.sendText("showGui"));
    ASSERT_TRUE(screen.waitFor(title, oneShownAt(400, 300)));
    EXPECT_EQ(editorCalls(), opening);

    program->clearPluginLog();
    ASSERT_TRUE(client.sendText("unload"));
    EXPECT_TRUE(screen.waitFor(title, noWindow));
    EXPECT_TRUE(waitForLog("unloaded kind=editor"));
    EXPECT_EQ(log({"effEditClose", "effClose"}),
              (std::vector<std::string>{"effEditClose window=open", "effClose"}));

    // A plug-in without an editor rectangle gets a default frame.
    load("test_no_editor");
    EXPECT_TRUE(screen.waitFor("Corvel VST/Remote - test_no_editor", [](const std::vector<WindowInfo>& windows) {
        return windows.size() == 1 && windows[0].mapped && windows[0].width > 0;
    }));
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

    // Quitting closes both editors while their windows still stand.
    program->clearPluginLog();
    ASSERT_TRUE(client.sendText("quit"));
    EXPECT_EQ(program->waitExit(20000), 0);
    EXPECT_EQ(log({"effEditClose"}), std::vector<std::string>(2, "effEditClose window=open"));
}
