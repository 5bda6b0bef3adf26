// Editor windows on X11: a top-level frame titled after its plug-in and one
// child, whose window id the plug-in receives as the parent of its editor.
#include "shell/linux/X11EditorWindows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "shell/EditorWindows.h"

namespace {

constexpr unsigned defaultWidth = 400;  // a frame whose editor gives no size
constexpr unsigned defaultHeight = 300;

Display* display = nullptr;
bool displayTried = false;
Atom deleteWindowAtom = None;
std::map<Window, WindowObserver*> observers;  // frame -> who hears of its close

// Plug-ins share the process-wide X error handler; Xlib's default ends the
// process on a stale window id, which a plug-in editor can easily produce.
int reportXError(Display* connection, XErrorEvent* error) {
    char text[128];
    XGetErrorText(connection, error->error_code, text, sizeof text);
    std::fprintf(stderr, "X error ignored: %s (request %d)\n", text, error->request_code);
    return 0;
}

Display* openDisplay() {
    if (displayTried) return display;
    displayTried = true;
    display = XOpenDisplay(nullptr);
    if (!display) return nullptr;
    XSetErrorHandler(reportXError);
    deleteWindowAtom = XInternAtom(display, "WM_DELETE_WINDOW", False);
    return display;
}

Window toWindow(WindowHandle handle) {
    return static_cast<Window>(reinterpret_cast<uintptr_t>(handle));
}

WindowHandle toHandle(Window window) {
    return reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(window));
}

void fixFrameSize(Window frame, unsigned width, unsigned height) {
    // The user cannot resize the frame: minimum and maximum are its size.
    XSizeHints* hints = XAllocSizeHints();
    hints->flags = PMinSize | PMaxSize;
    hints->min_width = hints->max_width = static_cast<int>(width);
    hints->min_height = hints->max_height = static_cast<int>(height);
    XSetWMNormalHints(display, frame, hints);
    XFree(hints);
}

void nameFrame(Window frame, const std::string& title) {
    XStoreName(display, frame, title.c_str());
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    XChangeProperty(display, frame, netName, utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()),
                    static_cast<int>(title.size()));
    XClassHint classHint;
    char resourceName[] = "corvel-vst-remote";
    char className[] = "CorvelStudioPlugin";
    classHint.res_name = resourceName;
    classHint.res_class = className;
    XSetClassHint(display, frame, &classHint);
    XSetWMProtocols(display, frame, &deleteWindowAtom, 1);
    const long pid = static_cast<long>(getpid());
    XChangeProperty(display, frame, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
}

Window firstChild(Window frame) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    Window child = 0;
    if (XQueryTree(display, frame, &root, &parent, &children, &count) && count > 0)
        child = children[0];
    if (children) XFree(children);
    return child;
}

}  // namespace

bool editorWindowsAvailable() {
    return openDisplay() != nullptr;
}

int editorDisplayFd() {
    return display ? ConnectionNumber(display) : -1;
}

WindowHandle createEditorWindow(const std::string& title, WindowHandle* content,
                                WindowObserver* observer) {
    if (!openDisplay()) return nullptr;
    const int screen = DefaultScreen(display);
    const Window frame =
        XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, defaultWidth, defaultHeight,
                            0, BlackPixel(display, screen), BlackPixel(display, screen));
    if (!frame) return nullptr;
    nameFrame(frame, title);
    fixFrameSize(frame, defaultWidth, defaultHeight);
    const Window child =
        XCreateSimpleWindow(display, frame, 0, 0, defaultWidth, defaultHeight, 0,
                            BlackPixel(display, screen), BlackPixel(display, screen));
    XMapWindow(display, child);
    // The plug-in reaches these windows through a connection of its own:
    // they must exist at the server before it is given the id.
    XSync(display, False);
    *content = toHandle(child);
    observers[frame] = observer;
    return toHandle(frame);
}

void resizeEditorWindow(int32_t width, int32_t height, WindowHandle frameHandle) {
    if (!display || !frameHandle || width <= 0 || height <= 0) return;
    const Window frame = toWindow(frameHandle);
    if (const Window child = firstChild(frame))
        XResizeWindow(display, child, static_cast<unsigned>(width), static_cast<unsigned>(height));
    fixFrameSize(frame, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XResizeWindow(display, frame, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XMapRaised(display, frame);
    XSync(display, False);
}

void showEditorWindow(WindowHandle frame) {
    if (!display || !frame) return;
    XMapRaised(display, toWindow(frame));
    XSync(display, False);
}

void raiseEditorWindow(WindowHandle frame) {
    if (!display || !frame) return;
    XRaiseWindow(display, toWindow(frame));
    XFlush(display);
}

void destroyEditorWindow(WindowHandle frame) {
    if (!display || !frame) return;
    observers.erase(toWindow(frame));
    XDestroyWindow(display, toWindow(frame));
    XSync(display, False);
}

void reclaimDisplayHooks() {
    // A plug-in's toolkit may install its own X error handler and leave it
    // behind when its module is unloaded; the next error would jump into
    // unmapped code.
    if (display) XSetErrorHandler(reportXError);
}

void pumpEditorEvents() {
    if (!display) return;
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type != ClientMessage ||
            static_cast<Atom>(event.xclient.data.l[0]) != deleteWindowAtom)
            continue;
        const Window frame = event.xclient.window;
        auto found = observers.find(frame);
        if (found == observers.end()) continue;
        WindowObserver* observer = found->second;
        observers.erase(found);
        if (observer) observer->onWindowClosed(toHandle(frame));
        XDestroyWindow(display, frame);
        XSync(display, False);
    }
}

void closeEditorDisplay() {
    if (display) XCloseDisplay(display);
    display = nullptr;
    observers.clear();
}
