// The editor as the wrapper drives it, and the size requests a plug-in
// makes back through the host callback.
#include <gtest/gtest.h>

#include <memory>

#include "TestSupport.h"
#include "dsp/VST2Plugin.h"

using namespace Vexa::DSP;
using namespace corvel_test;

namespace {

using Lines = std::vector<std::string>;

WindowHandle fakeWindow(uintptr_t id) {
    return reinterpret_cast<WindowHandle>(id);
}

class PluginEditor : public PluginTest {};

}  // namespace

TEST_F(PluginEditor, RectOpenAndIdleReachThePlugin) {
    VST2Plugin wrapper;
    ASSERT_TRUE(wrapper.load(pluginPath("editor")));
    mark();
    int32_t width = 0, height = 0;
    ASSERT_TRUE(wrapper.getEditorRect(width, height));
    EXPECT_EQ(width, 400);
    EXPECT_EQ(height, 300);
    EXPECT_TRUE(wrapper.openEditor(fakeWindow(4242)));
    for (int i = 0; i < 3; ++i) wrapper.sendEditorIdle();
    EXPECT_EQ(sinceMark(), (Lines{"effEditGetRect rect=400x300", "effEditOpen parent=4242",
                                  "effEditIdle", "effEditIdle", "effEditIdle"}));
}

TEST_F(PluginEditor, TeardownNeverSendsEditClose) {
    auto wrapper = std::make_unique<VST2Plugin>();
    ASSERT_TRUE(wrapper->load(pluginPath("editor")));
    wrapper->openEditor(fakeWindow(1));
    wrapper.reset();
    EXPECT_EQ(countLines(log(), "effEditClose"), 0u);
    EXPECT_EQ(log().back(), "unloaded kind=editor");
}

TEST_F(PluginEditor, MissingRectLeavesTheSizeUntouched) {
    VST2Plugin wrapper;
    ASSERT_TRUE(wrapper.load(pluginPath("no_editor")));
    int32_t width = 123, height = 456;
    EXPECT_FALSE(wrapper.getEditorRect(width, height));
    EXPECT_EQ(width, 123);
    EXPECT_EQ(height, 456);
    EXPECT_EQ(countLines(log(), "effEditGetRect rect=none"), 1u);
}

TEST_F(PluginEditor, SizeRequestsBeforeTheWrapperIsSetDoNothing) {
    VST2Plugin wrapper;
    ASSERT_TRUE(wrapper.load(pluginPath("size_request")));
    const Lines lines = log();
    EXPECT_EQ(countLines(lines, "sizeWindow width=640 height=480 from=entryNullRecord answer=0"), 1u);
    EXPECT_EQ(countLines(lines, "sizeWindow width=640 height=480 from=entry answer=0"), 1u);
    EXPECT_TRUE(resizeRecords().empty());

    // Loaded, but no editor window yet: still nothing to resize.
    wrapper.openEditor(fakeWindow(7));
    EXPECT_EQ(log().back(), "sizeWindow width=640 height=480 from=editOpen answer=0");
    EXPECT_TRUE(resizeRecords().empty());
}

TEST_F(PluginEditor, SizeRequestFromTheEditorResizesItsWindow) {
    VST2Plugin wrapper;
    ASSERT_TRUE(wrapper.load(pluginPath("size_request")));
    const WindowHandle frame = fakeWindow(0xf00d);
    wrapper.editorWindow = frame;
    wrapper.openEditor(fakeWindow(0xc0de));
    const auto records = resizeRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].width, 640);
    EXPECT_EQ(records[0].height, 480);
    EXPECT_EQ(records[0].frame, frame);
    EXPECT_EQ(records[0].thread, std::this_thread::get_id());
}

// The plug-in asks from a thread of its own, which it joins at effClose, so
// the request is complete once the wrapper is gone.
TEST_F(PluginEditor, SizeRequestFromAnotherThreadIsPassedOn) {
    const WindowHandle frame = fakeWindow(0xbeef);
    {
        VST2Plugin wrapper;
        ASSERT_TRUE(wrapper.load(pluginPath("size_request")));
        wrapper.editorWindow = frame;
        StereoInput input(1024);
        wrapper.queueMidi({0xB0, 20, 50});
        ASSERT_NE(wrapper.process(input.pointers), nullptr);
    }
    const auto records = resizeRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].width, 500);
    EXPECT_EQ(records[0].height, 250);
    EXPECT_EQ(records[0].frame, frame);
    EXPECT_NE(records[0].thread, std::this_thread::get_id());
    EXPECT_EQ(countLines(log(), "sizeWindow width=500 height=250 from=thread answer=0"), 1u);
}
