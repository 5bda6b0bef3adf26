// The Linux consent dialog: a small X11 window per origin with "Allow" and
// "Deny". It lives on the GUI thread without blocking it; a watcher thread
// only wakes the GUI thread when the dialog's X connection has events.
#pragma once

#include <X11/Xlib.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "shell/GuiThread.h"
#include "trust/ConsentPrompt.h"

class X11ConsentDialog final : public ConsentPrompt {
public:
    explicit X11ConsentDialog(GuiThread& gui) : gui(gui) {}
    // After the GUI loop has ended: closes what is open, answering Unavailable.
    ~X11ConsentDialog();
    X11ConsentDialog(const X11ConsentDialog&) = delete;
    X11ConsentDialog& operator=(const X11ConsentDialog&) = delete;

    void ask(const std::string& origin, Reply reply) override;

private:
    struct Dialog {
        Window frame = 0;
        Window allowButton = 0;
        Window denyButton = 0;
        std::string question;
        Reply reply;
    };

    // GUI thread.
    bool connect();
    void open(const std::string& origin, Reply reply);
    Window makeButton(Window frame, const char* label, int x, int y);
    void draw(const Dialog& dialog) const;
    void pumpEvents();
    void finish(std::size_t index, Answer answer);

    // Watcher thread.
    void watch();

    GuiThread& gui;
    Display* display = nullptr;  // the dialogs' own X connection
    XFontStruct* font = nullptr;
    GC gc = nullptr;
    Atom deleteWindow = 0;
    std::vector<Dialog> dialogs;

    std::thread watcher;
    std::atomic<bool> stopping{false};
    std::mutex pumpMutex;
    std::condition_variable pumped;
    bool pumpQueued = false;
};
