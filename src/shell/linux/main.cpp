// Entry point of the Linux program: the main thread is the GUI thread.
#include <X11/Xlib.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "host/VST2Host.h"
#include "shell/GuiDispatch.h"
#include "shell/Startup.h"
#include "shell/linux/GuiLoop.h"
#include "shell/linux/X11EditorWindows.h"

namespace {

void onTerminationSignal(int) {
    if (GuiLoop::current) GuiLoop::current->quitFromSignal();
}

void installSignalHandlers() {
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A client that vanishes mid-write must not end the program.
    std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main() {
    // Plug-in editors may talk to the X server from threads of their own.
    XInitThreads();
    GuiLoop loop;
    installSignalHandlers();

    std::string error;
    hostInstance = startHost(error);
    if (!hostInstance) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    loop.run();

    // Same order as the tray's "Exit": channel first, then plug-in and editor.
    VST2Host* host = hostInstance;
    host->stopChannel();
    hostInstance = nullptr;
    delete host;
    closeEditorDisplay();
    return 0;
}
