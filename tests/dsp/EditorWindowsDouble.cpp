// Stand-in for the editor-window layer: the host callback's only way out to
// the GUI. It records each resize request and the thread that made it.
#include <mutex>

#include "TestSupport.h"
#include "shell/EditorWindows.h"

namespace {
std::mutex recordsMutex;
std::vector<corvel_test::ResizeRecord> records;
}  // namespace

void requestEditorResize(int32_t width, int32_t height, WindowHandle frame) {
    std::lock_guard<std::mutex> lock(recordsMutex);
    records.push_back({width, height, frame, std::this_thread::get_id()});
}

std::vector<corvel_test::ResizeRecord> corvel_test::resizeRecords() {
    std::lock_guard<std::mutex> lock(recordsMutex);
    return records;
}

void corvel_test::clearResizeRecords() {
    std::lock_guard<std::mutex> lock(recordsMutex);
    records.clear();
}
