// Entry point of the plug-in process: one session's plug-in, its editor on
// this (the main) thread, its blocks on an audio thread, its commands on a
// third. It lives no longer than the program that started it.
//   corvel-plugin-host <program's pid> <sample rate> <block size>
// with the command pipe on descriptor 3 and the shared block on 4.
#include <X11/Xlib.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "bridge/CommandPipe.h"
#include "bridge/SharedRegion.h"
#include "host/InProcessSlot.h"
#include "pluginhost/AudioLoop.h"
#include "pluginhost/CommandLoop.h"
#include "pluginhost/PipeSink.h"
#include "shell/linux/GuiLoop.h"
#include "shell/linux/X11EditorWindows.h"

namespace {

constexpr int commandDescriptor = 3;
constexpr int regionDescriptor = 4;

uint32_t numberAt(char** argv, int index) {
    return static_cast<uint32_t>(std::strtoul(argv[index], nullptr, 10));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    // Killed with the program; a program that is already gone left us to
    // init before the request could take effect.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != static_cast<pid_t>(std::strtol(argv[1], nullptr, 10))) return 1;
    // Nothing of the program's but our two handles.
    closefrom(regionDescriptor + 1);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGINT, SIG_IGN);  // a terminal's Ctrl-C is the program's to handle

    auto region = bridge::SharedRegion::attach(regionDescriptor);
    if (!region) return 1;
    XInitThreads();
    GuiLoop loop;
    bridge::CommandPipe pipe(commandDescriptor);
    auto sink = std::make_shared<PipeSink>(pipe);
    auto slot = std::make_shared<InProcessSlot>(loop, sink, numberAt(argv, 2), numberAt(argv, 3));

    AudioLoop audio(region->block(), *slot);
    std::thread([&audio] { audio.run(); }).detach();
    CommandLoop commands(pipe, loop, *slot);
    std::thread commandThread([&commands] { commands.run(); });
    loop.run(commands);
    commandThread.join();
    closeEditorDisplay();
    // The audio thread still waits on the shared block: leave without
    // running destructors under it.
    std::_Exit(0);
}
