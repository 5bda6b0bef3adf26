#include "TestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>
#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

#include "dsp/HostSettings.h"

namespace corvel_test {

namespace {

void setEnvironment(const char* name, const std::string& value) {
#if defined(_WIN32)
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

long processId() {
#if defined(_WIN32)
    return static_cast<long>(_getpid());
#else
    return static_cast<long>(getpid());
#endif
}

void clearEnvironment(const char* name) {
#if defined(_WIN32)
    _putenv_s(name, "");
#else
    unsetenv(name);
#endif
}

}  // namespace

std::string pluginPath(const std::string& kind) {
    return std::string(CORVEL_TEST_PLUGIN_DIR) + "/test_" + kind + CORVEL_TEST_PLUGIN_SUFFIX;
}

std::vector<std::string> readLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> opcodeLines(const std::vector<std::string>& lines) {
    std::vector<std::string> opcodes;
    for (const std::string& line : lines)
        if (line.rfind("eff", 0) == 0) opcodes.push_back(line);
    return opcodes;
}

std::size_t countLines(const std::vector<std::string>& lines, const std::string& line) {
    std::size_t count = 0;
    for (const std::string& each : lines) count += each == line ? 1 : 0;
    return count;
}

long indexOf(const std::vector<std::string>& lines, const std::string& line, std::size_t from) {
    for (std::size_t i = from; i < lines.size(); ++i)
        if (lines[i] == line) return static_cast<long>(i);
    return -1;
}

std::string hex32(uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

uint32_t fnv1a(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    uint32_t hash = 0x811c9dc5u;
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= bytes[i];
        hash *= 0x01000193u;
    }
    return hash;
}

void PluginTest::SetUp() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name)
        if (c == '/') c = '_';
    logPath = ::testing::TempDir() + "corvel-dsp-" + std::to_string(processId()) + "-" + name + ".log";
    std::remove(logPath.c_str());
    setEnvironment("CORVEL_TEST_PLUGIN_LOG", logPath);
    hostSampleRate = 44100;
    hostBlockSize = 1024;
    clearResizeRecords();
}

PluginTest::~PluginTest() {
    clearEnvironment("CORVEL_TEST_PLUGIN_LOG");
    if (!logPath.empty()) std::remove(logPath.c_str());
}

std::vector<std::string> PluginTest::sinceMark() const {
    std::vector<std::string> lines = log();
    if (markedLines >= lines.size()) return {};
    return std::vector<std::string>(lines.begin() + static_cast<long>(markedLines), lines.end());
}

StereoInput::StereoInput(uint32_t frames) : left(frames), right(frames) {
    for (uint32_t i = 0; i < frames; ++i) {
        left[i] = 0.001f * static_cast<float>(i % 500) - 0.2f;
        right[i] = (i % 2 == 0) ? 0.3f : -0.45f;
    }
    pointers[0] = left.data();
    pointers[1] = right.data();
}

}  // namespace corvel_test

// Counting allocator, so a test can see that what the adapter allocates is
// also freed. Plain malloc underneath; sanitizers still see every block.
namespace {
std::atomic<long> allocationBalance{0};
std::atomic<long> allocationCount{0};
}  // namespace

long corvel_test::totalAllocations() {
    return allocationCount.load();
}

long corvel_test::liveAllocations() {
    return allocationBalance.load();
}

void* operator new(std::size_t size) {
    void* block = std::malloc(size ? size : 1);
    if (!block) throw std::bad_alloc();
    allocationBalance.fetch_add(1);
    allocationCount.fetch_add(1);
    return block;
}

void operator delete(void* block) noexcept {
    if (!block) return;
    allocationBalance.fetch_sub(1);
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
    operator delete(block);
}

// Sanitizer runtimes bring their own array forms; route them here as well.
void* operator new[](std::size_t size) {
    return operator new(size);
}

void operator delete[](void* block) noexcept {
    operator delete(block);
}

void operator delete[](void* block, std::size_t) noexcept {
    operator delete(block);
}
