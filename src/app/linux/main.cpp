// Entry point of the Linux program: the main thread is the GUI thread.
#include <X11/Xlib.h>
#include <malloc.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "app/Startup.h"
#include "host/VST2Host.h"
#include "shell/linux/GuiLoop.h"
#include "shell/linux/X11ConsentDialog.h"
#include "shell/linux/X11EditorWindows.h"

namespace {

// The one loop of the process, for the signal handler alone.
GuiLoop* signalledLoop = nullptr;

void onTerminationSignal(int) {
    if (signalledLoop) signalledLoop->quitFromSignal();
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
    // A fixed threshold keeps a client's large messages in mappings of their
    // own, given back when freed; the adaptive one lets them settle in the
    // heap, held after the client has gone.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    // Plug-in editors may talk to the X server from threads of their own.
    XInitThreads();
    GuiLoop loop;
    signalledLoop = &loop;
    installSignalHandlers();
    X11ConsentDialog consent(loop);  // outlives the host, whose channel asks it

    std::string error;
    std::unique_ptr<VST2Host> host = startHost(loop, error);
    if (!host) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    host->setConsentPrompt(&consent);
    loop.run(*host);

    // Same order as the tray's "Exit": channel first, then editors and plug-ins.
    host->shutdown();
    host.reset();
    closeEditorDisplay();
    return 0;
}
