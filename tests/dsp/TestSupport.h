// Shared helpers of the adapter tests: where the test plug-ins are, a
// fixture that gives every test its own plug-in log, and the recording
// stand-in for the editor-window layer.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "dsp/AudioBuffer.h"
#include "shell/WindowHandle.h"

namespace corvel_test {

std::string pluginPath(const std::string& kind);

// Lines the test plug-ins wrote, in order.
std::vector<std::string> readLines(const std::string& path);
// Only the dispatcher calls (lines starting with "eff").
std::vector<std::string> opcodeLines(const std::vector<std::string>& lines);
std::size_t countLines(const std::vector<std::string>& lines, const std::string& line);
// Index of the first line equal to `line` at or after `from`, or -1.
long indexOf(const std::vector<std::string>& lines, const std::string& line, std::size_t from = 0);
std::string hex32(uint32_t value);
uint32_t fnv1a(const void* data, std::size_t size);

// Every test starts from the host's defaults (44100 Hz, 1024 frames) with an
// empty log file of its own named in CORVEL_TEST_PLUGIN_LOG.
class PluginTest : public ::testing::Test {
protected:
    void SetUp() override;
    // Not TearDown: wrappers held by derived fixtures still log while they go.
    ~PluginTest() override;

    std::vector<std::string> log() const { return readLines(logPath); }
    std::vector<std::string> opcodes() const { return opcodeLines(log()); }
    // Lines logged since the last call of mark().
    std::vector<std::string> sinceMark() const;
    void mark() { markedLines = log().size(); }

    std::string logPath;
    std::size_t markedLines = 0;
};

// Two client channels of the current block size.
struct StereoInput {
    explicit StereoInput(uint32_t frames);
    std::vector<float> left, right;
    float* pointers[2];
};

// What the adapter asked of the editor-window layer.
struct ResizeRecord {
    int32_t width;
    int32_t height;
    WindowHandle frame;
    std::thread::id thread;
};
std::vector<ResizeRecord> resizeRecords();
void clearResizeRecords();

// Operator new calls minus operator delete calls in this process so far.
long liveAllocations();
// Operator new calls in this process so far.
long totalAllocations();

}  // namespace corvel_test
