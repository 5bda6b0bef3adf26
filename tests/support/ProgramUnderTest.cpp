#include "ProgramUnderTest.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "WaitUntil.h"

extern char** environ;

namespace testing_support {

namespace {

std::string variableOr(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

// A port the kernel has just found free; its choice also keeps parallel
// test processes apart.
uint16_t freePort() {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    const bool bound = bind(probe, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
                       getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size) == 0;
    close(probe);
    return bound ? ntohs(address.sin_port) : 0;
}

// Our own "NAME=value" entries with the changes applied ("" unsets).
std::vector<std::string> environmentWith(const std::map<std::string, std::string>& changes) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        if (!changes.count(text.substr(0, text.find('=')))) entries.push_back(text);
    }
    for (const auto& [name, value] : changes)
        if (!value.empty()) entries.push_back(name + "=" + value);
    return entries;
}

std::vector<char*> pointersTo(std::vector<std::string>& words) {
    std::vector<char*> pointers;
    for (std::string& word : words) pointers.push_back(word.data());
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

bool ProgramUnderTest::isNative() {
    return variableOr("CORVEL_PROGRAM", "").empty();
}

std::string testPluginPath(const std::string& name) {
    return variableOr("CORVEL_PLUGIN_DIR", CORVEL_TEST_PLUGIN_DIR) + "/" + name +
           variableOr("CORVEL_PLUGIN_SUFFIX", CORVEL_TEST_PLUGIN_SUFFIX);
}

ProgramUnderTest::ProgramUnderTest(std::map<std::string, std::string> environment,
                                   std::optional<uint16_t> port)
    : extraEnvironment(std::move(environment)), listenPort(port ? *port : freePort()) {
    char pattern[] = "/tmp/corvel-program-XXXXXX";
    if (mkdtemp(pattern)) folder = pattern;
    extraEnvironment["CORVEL_TEST_PORT"] = std::to_string(listenPort);
    extraEnvironment["CORVEL_TEST_PLUGIN_LOG"] = folder + "/plugin-log";
}

ProgramUnderTest::~ProgramUnderTest() {
    if (pid > 0 && !exitStatus) {
        kill(pid, SIGKILL);
        waitExit(5000);
    }
    std::error_code ignored;
    if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
}

bool ProgramUnderTest::start(int timeoutMs) {
    // Files rather than pipes: a child of the program (Wine's server, say)
    // may keep its output open long after the program has gone.
    const int out =
        open((folder + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int err =
        open((folder + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    std::vector<std::string> environment = environmentWith(extraEnvironment);
    std::istringstream commandLine(
        command.empty() ? variableOr("CORVEL_PROGRAM", CORVEL_PROGRAM_PATH) : command);
    std::vector<std::string> words{std::istream_iterator<std::string>(commandLine), {}};
    const std::vector<char*> envp = pointersTo(environment), argv = pointersTo(words);
    if (out >= 0 && err >= 0) pid = fork();
    if (pid == 0) {
        dup2(out, 1);
        dup2(err, 2);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(out);
    close(err);
    // The block-size line is printed once the channel listens.
    const auto listening = [&] {
        return output().find("setting Host buffer size to 1024") != std::string::npos;
    };
    waitUntil([&] { return listening() || !running(); }, timeoutMs);
    return listening();
}

std::string ProgramUnderTest::read(const std::string& name) const {
    std::ifstream file(folder + "/" + name);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

bool ProgramUnderTest::waitForOutput(const std::string& text, int timeoutMs) const {
    return waitUntil([&] { return output().find(text) != std::string::npos; }, timeoutMs, 5);
}

long ProgramUnderTest::residentKiB() const {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

void ProgramUnderTest::signal(int number) {
    if (pid > 0 && !exitStatus) kill(pid, number);
}

bool ProgramUnderTest::running() {
    if (pid <= 0 || exitStatus) return false;
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) != pid) return true;
    exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
}

std::optional<int> ProgramUnderTest::waitExit(int timeoutMs) {
    if (!waitUntil([&] { return !running(); }, timeoutMs)) return std::nullopt;
    return exitStatus;
}

void ProgramUnderTest::clearPluginLog() const {
    std::ofstream(folder + "/plugin-log", std::ios::trunc);
}

}  // namespace testing_support
