// Looks at the program's editor windows on the X server, as a user would see them.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct _XDisplay;  // Xlib's Display

namespace testing_support {

struct WindowInfo {
    unsigned long id = 0;
    std::string title;
    bool mapped = false;
    int width = 0;
    int height = 0;
    int contentWidth = 0;  // the first child: where the plug-in draws
    int contentHeight = 0;
    int contentChildren = 0;  // windows the plug-in made inside the content
};

class X11WindowProbe {
public:
    X11WindowProbe();
    ~X11WindowProbe();
    X11WindowProbe(const X11WindowProbe&) = delete;
    X11WindowProbe& operator=(const X11WindowProbe&) = delete;
    bool available() const { return display != nullptr; }

    // Only windows of this process and its children count (tests share one X server).
    void onlyProcess(long pid) { ownerPid = pid; }

    // Top-level windows with this title; a title that ends in " - " stands
    // for every title that begins with it.
    std::vector<WindowInfo> windowsTitled(const std::string& title);
    // Waits until the windows so titled satisfy the check.
    bool waitFor(const std::string& title,
                 const std::function<bool(const std::vector<WindowInfo>&)>& check,
                 int timeoutMs = 5000);
    // What the window manager's close button sends.
    void requestClose(unsigned long window);
    // A mouse click on the child window of that name (a dialog's button).
    bool clickChild(unsigned long window, const std::string& name);

private:
    long windowPid(unsigned long window);

    _XDisplay* display;
    long ownerPid = 0;
};

}  // namespace testing_support
