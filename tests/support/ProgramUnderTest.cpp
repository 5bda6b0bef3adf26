#include "ProgramUnderTest.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

extern char** environ;

namespace testing_support {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> splitCommand(const std::string& command) {
    std::istringstream words(command);
    std::vector<std::string> parts;
    for (std::string word; words >> word;) parts.push_back(word);
    return parts;
}

}  // namespace

std::string ProgramUnderTest::command() {
    if (const char* program = std::getenv("CORVEL_PROGRAM"); program && *program) return program;
    return CORVEL_PROGRAM_PATH;
}

bool ProgramUnderTest::isNative() {
    const char* program = std::getenv("CORVEL_PROGRAM");
    return !program || !*program;
}

std::string testPluginSuffix() {
    if (const char* suffix = std::getenv("CORVEL_PLUGIN_SUFFIX"); suffix && *suffix) return suffix;
    return CORVEL_TEST_PLUGIN_SUFFIX;
}

std::string testPluginPath(const std::string& name) {
    const char* folder = std::getenv("CORVEL_PLUGIN_DIR");
    return std::string(folder && *folder ? folder : CORVEL_TEST_PLUGIN_DIR) + "/" + name +
           testPluginSuffix();
}

uint16_t ProgramUnderTest::freePort() {
    // Ask the kernel for a free port, then vary by process so parallel test
    // processes do not all get the same one back.
    static std::atomic<int> offset{0};
    for (int attempt = 0; attempt < 50; ++attempt) {
        const int candidate = 20000 + (getpid() * 37 + offset.fetch_add(1) * 7) % 40000;
        const int probe = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(candidate));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool bound = bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(probe);
        if (bound) return static_cast<uint16_t>(candidate);
    }
    return 0;
}

ProgramUnderTest::ProgramUnderTest(std::map<std::string, std::string> environment,
                                   std::optional<uint16_t> port)
    : extraEnvironment(std::move(environment)), listenPort(port ? *port : freePort()) {
    char pattern[] = "/tmp/corvel-plugin-log-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd >= 0) close(fd);
    logPath = pattern;
}

ProgramUnderTest::~ProgramUnderTest() {
    if (pid > 0 && !exitStatus) {
        kill(pid, SIGKILL);
        waitExit(5000);
    }
    stopReading.store(true);
    if (stdoutReader.joinable()) stdoutReader.join();
    if (stderrReader.joinable()) stderrReader.join();
    unlink(logPath.c_str());
}

void ProgramUnderTest::readStream(int fd, std::string& into) {
    // A child of the program (Wine's server, say) may keep the pipe open
    // long after the program has gone, so reading also ends when told to.
    char buffer[4096];
    for (;;) {
        pollfd watched{fd, POLLIN, 0};
        const int ready = poll(&watched, 1, 100);
        if (ready > 0) {
            const ssize_t got = read(fd, buffer, sizeof buffer);
            if (got <= 0) break;
            std::lock_guard<std::mutex> lock(outputMutex);
            into.append(buffer, static_cast<std::size_t>(got));
            outputChanged.notify_all();
        } else if (stopReading.load()) {
            break;
        }
    }
    close(fd);
}

bool ProgramUnderTest::start(int timeoutMs) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return false;
    std::map<std::string, std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        if (equals != std::string::npos) environment[text.substr(0, equals)] = text.substr(equals + 1);
    }
    environment["CORVEL_TEST_PORT"] = std::to_string(listenPort);
    environment["CORVEL_TEST_PLUGIN_LOG"] = logPath;
    for (const auto& [name, value] : extraEnvironment) {
        if (value.empty()) {
            environment.erase(name);
        } else {
            environment[name] = value;
        }
    }
    std::vector<std::string> flat;
    for (const auto& [name, value] : environment) flat.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& entry : flat) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> words = splitCommand(command());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        close(out[1]);
        close(err[1]);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    stdoutReader = std::thread([this, fd = out[0]] { readStream(fd, stdoutText); });
    stderrReader = std::thread([this, fd = err[0]] { readStream(fd, stderrText); });
    // The block-size line is printed once the channel listens.
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(outputMutex);
    while (stdoutText.find("setting Host buffer size to 1024") == std::string::npos) {
        lock.unlock();
        if (!running()) return false;
        lock.lock();
        if (outputChanged.wait_until(lock, std::min(deadline, Clock::now() + std::chrono::milliseconds(50))) ==
                std::cv_status::timeout &&
            Clock::now() >= deadline)
            return false;
    }
    return true;
}

std::string ProgramUnderTest::output() {
    std::lock_guard<std::mutex> lock(outputMutex);
    return stdoutText;
}

std::string ProgramUnderTest::errors() {
    std::lock_guard<std::mutex> lock(outputMutex);
    return stderrText;
}

bool ProgramUnderTest::waitForOutput(const std::string& text, int timeoutMs) {
    std::unique_lock<std::mutex> lock(outputMutex);
    return outputChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return stdoutText.find(text) != std::string::npos; });
}

int ProgramUnderTest::countLines(const std::string& line) {
    std::istringstream lines(output());
    int count = 0;
    for (std::string each; std::getline(lines, each);) count += each == line;
    return count;
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
    if (waitpid(pid, &status, WNOHANG) == pid) {
        exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }
    return true;
}

std::optional<int> ProgramUnderTest::waitExit(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (running()) {
        if (Clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return exitStatus;
}

std::string ProgramUnderTest::readPluginLog() const {
    std::ifstream file(logPath);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void ProgramUnderTest::clearPluginLog() const {
    std::ofstream(logPath, std::ios::trunc);
}

}  // namespace testing_support
