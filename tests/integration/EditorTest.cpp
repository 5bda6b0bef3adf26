// Editor windows on a real X server.
#include "EditorFixture.h"

using namespace testing_support;

namespace {

// Named after the plug-in's own name, else its file name.
const std::string title = "Corvel VST/Remote - test_editor";
const std::string resizingTitle = "Corvel VST/Remote - Resizing Editor";

bool noWindow(const std::vector<WindowInfo>& windows) {
    return windows.empty();
}

bool oneShownAt400x300(const std::vector<WindowInfo>& windows) {
    return windows.size() == 1 && windows[0].mapped && windows[0].contentWidth == 400 &&
           windows[0].contentHeight == 300;
}

bool oneShownAt640x480(const std::vector<WindowInfo>& windows) {
    return windows.size() == 1 && windows[0].mapped && windows[0].contentWidth == 640 &&
           windows[0].contentHeight == 480 && windows[0].width == 640 && windows[0].height == 480;
}

bool oneShownAt500x250(const std::vector<WindowInfo>& windows) {
    return windows.size() == 1 && windows[0].contentWidth == 500 && windows[0].contentHeight == 250;
}

class EditorTest : public EditorFixture {
protected:
    std::vector<std::string> editorCalls() {
        return linesStartingWith(log(), {"effEditGetRect", "effEditOpen", "effEditClose"});
    }
};

}  // namespace

TEST_F(EditorTest, ALoadShowsTheFrameWhichIsIdledRaisedClosedReopenedAndGoesWithTheUnload) {
    load("test_editor");
    // "ready" came after the window was up, at the editor's size.
    const auto shown = screen.windowsTitled(title);
    ASSERT_TRUE(oneShownAt400x300(shown));
    EXPECT_EQ(shown[0].className, "CorvelStudioPlugin");
    const auto opened = editorCalls();
    ASSERT_EQ(opened.size(), 3u);
    EXPECT_EQ(opened[0], "effEditGetRect rect=400x300");
    EXPECT_TRUE(startsWith(opened[1], "effEditOpen parent="));
    EXPECT_EQ(opened[2], "effEditGetRect rect=400x300");
    ASSERT_TRUE(waitForLogLine(*program, "effEditIdle"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_GE(countStartingWith(log(), "effEditIdle"), 5);

    // While open, showGui only raises it.
    program->clearPluginLog();
    ASSERT_TRUE(client.sendText("showGui"));
    expectAlive();
    ASSERT_TRUE(waitForLogLine(*program, "effEditGetRect"));
    EXPECT_EQ(editorCalls(), std::vector<std::string>{"effEditGetRect rect=400x300"});

    // Closed by the user, the plug-in stays; showGui opens a new frame.
    auto windows = screen.windowsTitled(title);
    ASSERT_EQ(windows.size(), 1u);
    screen.requestClose(windows[0].id);
    ASSERT_TRUE(screen.waitFor(title, noWindow));
    EXPECT_TRUE(waitForLogLine(*program, "effEditClose"));
    EXPECT_EQ(roundTrip(block(1024, 0.0f, 0.0f, 0.0f)).size(), 2048u);
    program->clearPluginLog();
    ASSERT_TRUE(client.sendText("showGui"));
    ASSERT_TRUE(screen.waitFor(title, oneShownAt400x300));
    const auto calls = editorCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_TRUE(startsWith(calls[1], "effEditOpen parent="));

    ASSERT_TRUE(client.sendText("unload"));
    EXPECT_TRUE(screen.waitFor(title, noWindow));
    EXPECT_TRUE(waitForLogLine(*program, "unloaded kind=editor"));
}

TEST_F(EditorTest, EachSessionHasItsOwnEditorSizedClosedAndShownOnItsOwn) {
    WsClient other;
    ASSERT_TRUE(connectClient(other));
    load("test_editor");
    loadOn(other, "test_size_request");
    ASSERT_TRUE(screen.waitFor(title, oneShownAt400x300));
    EXPECT_TRUE(screen.waitFor(resizingTitle, oneShownAt640x480));
    // A controller change makes the plug-in ask from a thread of its own.
    ASSERT_TRUE(other.sendText("midi 176 20 50|"));
    ASSERT_TRUE(other.sendBinary(block(1024, 0.0f, 0.0f, 0.0f)));
    ASSERT_TRUE(other.receiveBinary().has_value());
    EXPECT_TRUE(screen.waitFor(resizingTitle, oneShownAt500x250));

    screen.requestClose(screen.windowsTitled(title)[0].id);
    ASSERT_TRUE(screen.waitFor(title, noWindow));
    EXPECT_EQ(screen.windowsTitled(resizingTitle).size(), 1u);
    ASSERT_TRUE(other.sendText("showGui"));  // raises its own, opens nothing else
    expectAlive(other);
    EXPECT_TRUE(screen.windowsTitled(title).empty());
    ASSERT_TRUE(client.sendText("showGui"));
    EXPECT_TRUE(screen.waitFor(title, oneShownAt400x300));
    EXPECT_EQ(screen.windowsTitled(resizingTitle).size(), 1u);
}

TEST_F(EditorTest, APluginWithoutAnEditorRectangleGetsADefaultFrame) {
    load("test_no_editor");
    EXPECT_TRUE(screen.waitFor("Corvel VST/Remote - test_no_editor", [](const std::vector<WindowInfo>& windows) {
        return windows.size() == 1 && windows[0].mapped && windows[0].width > 0;
    }));
}

class HeadlessTest : public PluginTest {
protected:
    void SetUp() override {
        SKIP_UNLESS_NATIVE();  // under Wine there is always a display
        PluginTest::SetUp();
    }
};

TEST_F(HeadlessTest, WithoutADisplayALoadStillSucceedsAndNoEditorIsOpened) {
    load("test_editor");
    EXPECT_EQ(roundTrip(block(1024, 0.0f, 0.0f, 0.0f)).size(), 2048u);
    EXPECT_EQ(countStartingWith(log(), "effEditOpen"), 0);
    EXPECT_EQ(countStartingWith(log(), "effEditGetRect"), 0);  // not even asked
    ASSERT_TRUE(client.sendText("showGui"));
    expectAlive();
}
