// Plug-ins that crash or hang in their plug-in process: the session says
// so, brings the plug-in back as it was, and other sessions never notice.
#include <dirent.h>
#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <cstdio>
#include <thread>

#include "PluginFixture.h"

using namespace testing_support;

namespace {

struct Fault {
    std::string name;
    std::string reason;
};

// How each fault ends the plug-in process. On Windows the C runtime's abort
// exits with 3, and a null write ends the process with its exception.
std::vector<Fault> crashes() {
    if (ProgramUnderTest::isNative())
        return {{"null_write", "signal 11"}, {"abort", "signal 6"}, {"exit", "exit 3"}};
    return {{"null_write", "exception 0xC0000005"}, {"abort", "exit 3"}, {"exit", "exit 3"}};
}

std::string abortReason() {
    return crashes()[1].reason;
}

constexpr uint32_t frames = 1024;  // the program's default block size
constexpr float faultTrigger = -999.0f;

// Read with the C library: a process may end while its /proc file is read,
// which the stream library reports by throwing.
std::string readFile(const std::string& path) {
    std::string text;
    if (FILE* file = std::fopen(path.c_str(), "r")) {
        char chunk[4096];
        for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) text.append(chunk, got);
        std::fclose(file);
    }
    return text;
}

std::vector<std::string> entriesOf(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') names.push_back(entry->d_name);
        closedir(dir);
    }
    return names;
}

bool isGone(long pid) {
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t close = stat.rfind(')');
    return close == std::string::npos || stat[close + 2] == 'Z';
}

// Living plug-in processes of the program listening on port, found by the
// port in the environment they inherit: under Wine they are no children of
// the program's process.
std::vector<long> pluginProcessesOf(uint16_t port) {
    const std::string portVariable = std::string("CORVEL_TEST_PORT=") + std::to_string(port) + '\0';
    std::vector<long> found;
    for (const std::string& name : entriesOf("/proc")) {
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string folder = "/proc/" + name;
        if (readFile(folder + "/cmdline").find("corvel-plugin-host") == std::string::npos) continue;
        if (readFile(folder + "/environ").find(portVariable) == std::string::npos) continue;
        if (!isGone(std::stol(name))) found.push_back(std::stol(name));
    }
    return found;
}

int sharedBlocksOf(long pid) {
    const std::string maps = readFile("/proc/" + std::to_string(pid) + "/maps");
    int count = 0;
    for (std::size_t at = 0; (at = maps.find("corvel-session-block", at)) != std::string::npos; ++at)
        ++count;
    return count;
}

// A second client streaming through a gain plug-in for as long as it lives,
// counting replies that are wrong or later than a second (a stuck neighbour
// would hold them for the 2 s of a hang).
class Bystander {
public:
    Bystander(WsClient& client) : client(client) {
        worker = std::thread([this] { stream(); });
    }
    ~Bystander() { stop(); }
    void stop() {
        running = false;
        if (worker.joinable()) worker.join();
    }
    int blocks() const { return sent.load(); }
    int badReplies() const { return bad.load(); }

private:
    void stream() {
        while (running) {
            const float level = 0.001f * float(sent.load() % 500);
            client.sendBinary(std::vector<float>(2 * frames, level));
            auto reply = client.receiveBinary(1000);
            const auto out = reply ? floatsOf(*reply) : std::vector<float>{};
            if (out.size() != 2 * frames || out[0] != 0.5f * level || out[2 * frames - 1] != 0.5f * level)
                ++bad;
            ++sent;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    WsClient& client;
    std::atomic<bool> running{true};
    std::atomic<int> sent{0};
    std::atomic<int> bad{0};
    std::thread worker;
};

// Sanitizer builds would turn a plug-in's null write, and leaks left by its
// exit(3), into an exit of their own; the plug-in process must show the
// real ending.
std::string withOption(const char* variable, const std::string& option) {
    const char* given = std::getenv(variable);
    return (given && *given ? std::string(given) + ":" : std::string()) + option;
}

class CrashTest : public PluginTest {
protected:
    std::map<std::string, std::string> environment() override {
        auto variables = PluginTest::environment();
        variables["ASAN_OPTIONS"] = withOption("ASAN_OPTIONS", "handle_segv=0:detect_leaks=0");
        variables["TSAN_OPTIONS"] = withOption("TSAN_OPTIONS", "handle_segv=0");
        return variables;
    }

    // Texts up to and including last; empty binary replies on the way are counted.
    std::vector<std::string> textsUntil(const std::string& last, int* emptyReplies = nullptr) {
        // Under Wine a relaunch's process start alone can take seconds.
        const int waitMs = ProgramUnderTest::isNative() ? 10000 : 30000;
        std::vector<std::string> texts;
        while (auto message = client.receive(waitMs)) {
            if (message->isBinary() && emptyReplies) *emptyReplies += message->payload.empty();
            if (!message->isText()) continue;
            texts.push_back(message->payload);
            if (message->payload == last) break;
        }
        return texts;
    }

    // The state of a state-gain plug-in that doubles its input.
    void restoreDoublingState() {
        std::string state(16, '\0');
        state[8] = static_cast<char>(128);
        ASSERT_TRUE(client.sendText("setState"));
        ASSERT_TRUE(client.sendBinary(state));
        expectAlive();  // a restore switches the plug-in off; this switches it on
    }

    void expectDoubled() {
        const auto out = roundTrip(block(frames, 0.25f, 0.0f, -0.125f));
        ASSERT_EQ(out.size(), 2 * frames);
        EXPECT_FLOAT_EQ(out[0], 0.5f);
        EXPECT_FLOAT_EQ(out[2 * frames - 1], -0.25f);
    }

    void triggerFault() { ASSERT_TRUE(client.sendBinary(std::vector<float>(2 * frames, faultTrigger))); }

    void connectWithGain(WsClient& other) {
        ASSERT_TRUE(connectClient(other));
        ASSERT_TRUE(other.sendText("load " + testPluginPath("test_gain")));
        ASSERT_EQ(other.receiveText(10000), "ready");
        ASSERT_EQ(other.receiveText(), "fixedCompensationDelaySamp\n0");
    }

    std::vector<std::string> relaunchAfter(const std::string& reason) {
        return {"crashed\n" + reason, "ready", "fixedCompensationDelaySamp\n0"};
    }
};

}  // namespace

TEST_F(CrashTest, ACrashInTheProcessCallIsReportedAndThePluginComesBackWithItsState) {
    WsClient other;
    ASSERT_NO_FATAL_FAILURE(connectWithGain(other));
    Bystander bystander(other);
    for (const Fault& fault : crashes()) {
        SCOPED_TRACE(fault.name);
        load("test_" + fault.name + "_in_process");
        restoreDoublingState();
        expectDoubled();
        triggerFault();
        int emptyReplies = 0;
        EXPECT_EQ(textsUntil("fixedCompensationDelaySamp\n0", &emptyReplies), relaunchAfter(fault.reason));
        EXPECT_EQ(emptyReplies, 1) << "the block in flight gets an empty reply";
        expectDoubled();  // the state came back
        EXPECT_TRUE(program->waitForOutput("plug-in crashed: " + fault.reason + "\nplug-in relaunched\n"));
    }
    bystander.stop();
    EXPECT_GT(bystander.blocks(), 10);
    EXPECT_EQ(bystander.badReplies(), 0);
}

TEST_F(CrashTest, AHangIsEndedAfterTwoSecondsWhileOthersStreamOn) {
    WsClient other;
    ASSERT_NO_FATAL_FAILURE(connectWithGain(other));
    Bystander bystander(other);
    load("test_hang_in_process");
    restoreDoublingState();
    triggerFault();
    int emptyReplies = 0;
    EXPECT_EQ(textsUntil("fixedCompensationDelaySamp\n0", &emptyReplies),
              relaunchAfter("no answer within 2 s"));
    EXPECT_EQ(emptyReplies, 1);
    expectDoubled();
    bystander.stop();
    EXPECT_GT(bystander.blocks(), 20);
    EXPECT_EQ(bystander.badReplies(), 0);
}

TEST_F(CrashTest, ACrashOnOpeningIsRetriedTwiceThenGivenUp) {
    for (const Fault& fault : crashes()) {
        SCOPED_TRACE(fault.name);
        ASSERT_TRUE(client.sendText("load " + testPluginPath("test_" + fault.name + "_in_open")));
        const std::string crashed = "crashed\n" + fault.reason;
        EXPECT_EQ(textsUntil("crashed\ngave up after 3 crashes"),
                  (std::vector<std::string>{crashed, crashed, crashed, "crashed\ngave up after 3 crashes"}));
        // Without a plug-in until the next load, which starts afresh.
        ASSERT_TRUE(client.sendBinary(block(frames, 0.0f, 0.0f, 0.0f)));
        expectAlive();
    }
    load("test_gain");
}

TEST_F(CrashTest, ACrashTakingTheStateAnswersTheRequestAndRelaunches) {
    for (const Fault& fault : crashes()) {
        SCOPED_TRACE(fault.name);
        load("test_" + fault.name + "_in_get_chunk");
        ASSERT_TRUE(client.sendText("getState"));
        std::vector<std::string> expected = relaunchAfter(fault.reason);
        expected.insert(expected.begin(), "state failed");
        EXPECT_EQ(textsUntil("fixedCompensationDelaySamp\n0"), expected);
        expectAlive();
    }
}

class EditorCrashTest : public CrashTest {
protected:
    std::map<std::string, std::string> environment() override {
        auto variables = CrashTest::environment();
        variables.erase("DISPLAY");  // keeps the display
        return variables;
    }
};

TEST_F(EditorCrashTest, ACrashOpeningTheEditorIsRetriedTwiceThenGivenUp) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X server (the test script runs Xvfb)";
    for (const Fault& fault : crashes()) {
        SCOPED_TRACE(fault.name);
        // The editor opens with the load, and again with each relaunch.
        ASSERT_TRUE(client.sendText("load " + testPluginPath("test_" + fault.name + "_in_edit_open")));
        const std::string crashed = "crashed\n" + fault.reason;
        EXPECT_EQ(textsUntil("crashed\ngave up after 3 crashes"),
                  (std::vector<std::string>{crashed, crashed, crashed, "crashed\ngave up after 3 crashes"}));
    }
}

TEST_F(CrashTest, ManyCrashCyclesLeaveNoProcessRegionOrDescriptorBehind) {
    const long pid = program->processId();
    const std::size_t descriptors = entriesOf("/proc/" + std::to_string(pid) + "/fd").size();
    // Each cycle is a whole start, crash, reap and relaunch: a few tens of
    // milliseconds here, seconds under Wine (10 cycles there).
    const int cycles = ProgramUnderTest::isNative() ? 100 : 10;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        SCOPED_TRACE(cycle);
        load("test_abort_in_process");
        triggerFault();
        ASSERT_EQ(textsUntil("fixedCompensationDelaySamp\n0"), relaunchAfter(abortReason()));
        ASSERT_EQ(pluginProcessesOf(program->port()).size(), 1u);
    }
    ASSERT_TRUE(client.sendText("unload"));
    expectAlive();
    for (int wait = 0; wait < 100 && !pluginProcessesOf(program->port()).empty(); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(pluginProcessesOf(program->port()).empty());
    // Under Wine the program's handles live in Wine's server, out of sight.
    if (!ProgramUnderTest::isNative()) return;
    EXPECT_EQ(sharedBlocksOf(pid), 0);
    EXPECT_EQ(entriesOf("/proc/" + std::to_string(pid) + "/fd").size(), descriptors);
}

TEST_F(CrashTest, KillingTheProgramTakesItsPluginProcessesWithIt) {
    WsClient other;
    ASSERT_NO_FATAL_FAILURE(connectWithGain(other));
    // One of them stuck in its process call, where the end of its command
    // pipe alone would not end it.
    load("test_hang_in_process");
    triggerFault();
    ASSERT_TRUE(waitForLogLine(*program, "fault in processReplacing"));
    const auto children = pluginProcessesOf(program->port());
    ASSERT_EQ(children.size(), 2u);
    program->signal(SIGKILL);
    EXPECT_EQ(program->waitExit(), 128 + SIGKILL);
    for (long child : children) {
        for (int wait = 0; wait < 100 && !isGone(child); ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_TRUE(isGone(child)) << "plug-in process " << child << " outlived the program";
    }
}
