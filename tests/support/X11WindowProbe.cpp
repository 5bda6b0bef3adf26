#include "X11WindowProbe.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdlib>
#include <fstream>

#include "WaitUntil.h"

namespace testing_support {

namespace {

// The program itself or one of its plug-in processes.
bool isOwnedBy(long pid, long owner) {
    if (pid == owner) return true;
    // "PID (NAME) STATE PARENT ...": the name may hold spaces and parentheses.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::size_t close = line.rfind(')');
    return close != std::string::npos && std::atol(line.c_str() + close + 4) == owner;
}

// Windows come and go while they are looked at; Xlib's default handler
// would end the test process on the first stale id.
int ignoreXError(Display*, XErrorEvent*) {
    return 0;
}

std::vector<Window> childrenOf(Display* display, Window window) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count)) return {};
    std::vector<Window> found(children, children + count);
    if (children) XFree(children);
    return found;
}

std::string nameOf(Display* display, Window window) {
    char* name = nullptr;
    if (!XFetchName(display, window, &name) || !name) return "";
    const std::string text = name;
    XFree(name);
    return text;
}

}  // namespace

X11WindowProbe::X11WindowProbe() : display(XOpenDisplay(nullptr)) {
    XSetErrorHandler(ignoreXError);
}

X11WindowProbe::~X11WindowProbe() {
    if (display) XCloseDisplay(display);
}

std::vector<WindowInfo> X11WindowProbe::windowsTitled(const std::string& title) {
    std::vector<WindowInfo> found;
    if (!display) return found;
    const bool prefix = title.size() >= 3 && title.compare(title.size() - 3, 3, " - ") == 0;
    for (Window window : childrenOf(display, DefaultRootWindow(display))) {
        WindowInfo info;
        info.id = window;
        info.title = nameOf(display, window);
        if (prefix ? info.title.rfind(title, 0) != 0 : info.title != title) continue;
        if (ownerPid && !isOwnedBy(windowPid(window), ownerPid)) continue;
        XWindowAttributes attributes{};
        XGetWindowAttributes(display, window, &attributes);
        info.mapped = attributes.map_state == IsViewable;
        info.width = attributes.width;
        info.height = attributes.height;
        const std::vector<Window> inner = childrenOf(display, window);
        if (!inner.empty()) {
            XWindowAttributes content{};
            XGetWindowAttributes(display, inner[0], &content);
            info.contentWidth = content.width;
            info.contentHeight = content.height;
            info.contentChildren = static_cast<int>(childrenOf(display, inner[0]).size());
        }
        found.push_back(info);
    }
    return found;
}

bool X11WindowProbe::waitFor(const std::string& title,
                             const std::function<bool(const std::vector<WindowInfo>&)>& check,
                             int timeoutMs) {
    return waitUntil([&] { return check(windowsTitled(title)); }, timeoutMs, 20);
}

long X11WindowProbe::windowPid(unsigned long window) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    long pid = 0;
    if (XGetWindowProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), 0, 1, False,
                           XA_CARDINAL, &type, &format, &count, &after, &data) == Success &&
        data && count == 1 && format == 32)
        pid = *reinterpret_cast<long*>(data);
    if (data) XFree(data);
    return pid;
}

void X11WindowProbe::requestClose(unsigned long window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}

bool X11WindowProbe::clickChild(unsigned long window, const std::string& name) {
    for (Window child : childrenOf(display, window)) {
        if (nameOf(display, child) != name) continue;
        for (int type : {ButtonPress, ButtonRelease}) {
            XEvent event{};
            event.xbutton.type = type;
            event.xbutton.window = child;
            event.xbutton.button = Button1;
            event.xbutton.same_screen = True;
            XSendEvent(display, child, False,
                       type == ButtonPress ? ButtonPressMask : ButtonReleaseMask, &event);
        }
        XFlush(display);
        return true;
    }
    return false;
}

}  // namespace testing_support
