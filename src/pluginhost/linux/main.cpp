// Entry point of the plug-in process: one session's plug-in, its editor on
// this (the main) thread, its blocks on an audio thread, its commands on a
// third. It lives no longer than the program that started it. Its
// arguments and descriptors are those of bridge/LaunchContract.h; or
// "--probe <path>" for the catalogue (pluginhost/Probe.h).
#include <X11/Xlib.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "bridge/CommandPipe.h"
#include "bridge/LaunchContract.h"
#include "bridge/SharedRegion.h"
#include "host/InProcessSlot.h"
#include "pluginhost/AudioLoop.h"
#include "pluginhost/CommandLoop.h"
#include "pluginhost/EventForwarder.h"
#include "pluginhost/Probe.h"
#include "shell/linux/GuiLoop.h"
#include "shell/linux/X11EditorWindows.h"

namespace {

// The program kills a probe after its time limit; one left behind by a
// program that ended before the death signal below was asked for ends
// itself a little later.
constexpr unsigned probeBackstopSeconds = 60;

int probe(const char* path) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    alarm(probeBackstopSeconds);
    closefrom(STDERR_FILENO + 1);
    // Our lines get a descriptor of their own; what the plug-in prints
    // goes to standard error and cannot break them.
    const int lines = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (lines < 0) return 1;
    dup2(STDERR_FILENO, STDOUT_FILENO);
    std::signal(SIGPIPE, SIG_IGN);
    const int status = runProbe(path, [lines](const std::string& line) {
        for (std::size_t written = 0; written < line.size();) {
            const ssize_t count = write(lines, line.data() + written, line.size() - written);
            if (count <= 0) return;
            written += static_cast<std::size_t>(count);
        }
    });
    // Nothing is unloaded: a plug-in's teardown could still crash or hang.
    std::_Exit(status);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--probe") == 0) return probe(argv[2]);
    const auto launch = bridge::parseLaunch(argc, argv);
    if (!launch || launch->commandHandle != bridge::inheritedCommandDescriptor ||
        launch->regionHandle != bridge::inheritedRegionDescriptor)
        return 2;
    // Killed with the program; a program that is already gone left us to
    // init before the request could take effect.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != static_cast<pid_t>(launch->programId)) return 1;
    // Nothing of the program's but our two handles.
    closefrom(bridge::inheritedRegionDescriptor + 1);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGINT, SIG_IGN);  // a terminal's Ctrl-C is the program's to handle

    auto region = bridge::SharedRegion::attach(launch->regionHandle);
    if (!region) return 1;
    XInitThreads();
    GuiLoop loop;
    bridge::CommandPipe pipe(launch->commandHandle);
    EventForwarder events(pipe, region->block().kept);
    auto slot = std::make_shared<InProcessSlot>(loop, nullptr, &events, launch->sampleRate,
                                                launch->blockSize);

    AudioLoop audio(*region, *slot);
    std::thread([&audio] { audio.run(); }).detach();
    CommandLoop commands(pipe, loop, *slot, region->block().kept);
    std::thread commandThread([&commands] { commands.run(); });
    loop.run(commands);
    commandThread.join();
    closeEditorDisplay();
    // The audio thread still waits on the shared block: leave without
    // running destructors under it.
    std::_Exit(0);
}
