#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <string>
#include <thread>
#include <vector>

#include "bridge/LaunchContract.h"
#include "host/ChildProcess.h"

extern char** environ;

namespace {

std::string pluginHostPath() {
    char self[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path = length > 0 ? std::string(self, static_cast<std::size_t>(length)) : "";
    const std::size_t slash = path.rfind('/');
    return (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) +
           "/corvel-plugin-host";
}

// Moved above the numbers they are dup'ed to, so dup2 never meets itself
// (which would leave close-on-exec set).
int highDuplicate(int descriptor) {
    return fcntl(descriptor, F_DUPFD_CLOEXEC, 10);
}

}  // namespace

std::unique_ptr<ChildProcess> ChildProcess::start(bridge::SharedRegion& sharedRegion,
                                                  uint32_t sampleRate, uint32_t blockSize,
                                                  int& commandHandle) {
    int ends[2] = {-1, -1};
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return nullptr;
    const int childEnd = highDuplicate(ends[1]);
    const int region = highDuplicate(sharedRegion.handle());
    close(ends[1]);

    bridge::LaunchArguments launch;
    launch.programId = static_cast<uint32_t>(getpid());
    launch.sampleRate = sampleRate;
    launch.blockSize = blockSize;
    launch.commandHandle = bridge::inheritedCommandDescriptor;
    launch.regionHandle = bridge::inheritedRegionDescriptor;
    const std::string program = pluginHostPath();
    std::vector<std::string> words = bridge::launchWords(launch);
    words.insert(words.begin(), program);
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, childEnd, bridge::inheritedCommandDescriptor);
    posix_spawn_file_actions_adddup2(&actions, region, bridge::inheritedRegionDescriptor);
    pid_t pid = -1;
    const int failed = childEnd < 0 || region < 0 ||
                       posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (childEnd >= 0) close(childEnd);
    if (region >= 0) close(region);
    if (failed) {
        close(ends[0]);
        return nullptr;
    }
    commandHandle = ends[0];
    return std::unique_ptr<ChildProcess>(new ChildProcess(pid));
}

std::unique_ptr<ChildProcess> ChildProcess::startProbe(const std::string& modulePath) {
    int ends[2] = {-1, -1};
    if (pipe2(ends, O_CLOEXEC) != 0) return nullptr;
    const int writeEnd = highDuplicate(ends[1]);
    close(ends[1]);
    const std::string program = pluginHostPath();
    std::vector<std::string> words = {program, "--probe", modulePath};
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd, STDOUT_FILENO);
    pid_t pid = -1;
    const int failed =
        writeEnd < 0 || posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    // Ours closed at once, so the output ends when the probe's copy does.
    if (writeEnd >= 0) close(writeEnd);
    if (failed) {
        close(ends[0]);
        return nullptr;
    }
    return std::unique_ptr<ChildProcess>(new ChildProcess(pid, 0, ends[0]));
}

int ChildProcess::shutdownGraceMs() {
    return 1000;
}

ChildProcess::~ChildProcess() {
    if (output >= 0) close(static_cast<int>(output));
    if (hasEnded()) return;
    kill();
    waitEnded(-1);
}

bool ChildProcess::hasEnded() {
    std::lock_guard<std::mutex> lock(statusMutex);
    if (status) return true;
    int raw = 0;
    if (waitpid(static_cast<pid_t>(id), &raw, WNOHANG) != static_cast<pid_t>(id)) return false;
    status = raw;
    return true;
}

bool ChildProcess::waitEnded(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!hasEnded()) {
        if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void ChildProcess::kill() {
    std::lock_guard<std::mutex> lock(statusMutex);
    if (!status) ::kill(static_cast<pid_t>(id), SIGKILL);
}

std::string ChildProcess::endReason() {
    std::lock_guard<std::mutex> lock(statusMutex);
    if (!status) return {};
    if (WIFEXITED(*status)) return "exit " + std::to_string(WEXITSTATUS(*status));
    if (WIFSIGNALED(*status)) return "signal " + std::to_string(WTERMSIG(*status));
    return "ended";
}

bool ChildProcess::readOutput(std::string& text, int timeoutMs) {
    if (output < 0) return false;
    pollfd ready = {static_cast<int>(output), POLLIN, 0};
    const int polled = poll(&ready, 1, timeoutMs);
    if (polled < 0) return errno == EINTR;
    if (polled == 0) return true;
    char buffer[16384];
    const ssize_t count = read(static_cast<int>(output), buffer, sizeof buffer);
    if (count < 0) return errno == EINTR || errno == EAGAIN;
    if (count == 0) return false;
    text.append(buffer, static_cast<std::size_t>(count));
    return true;
}
