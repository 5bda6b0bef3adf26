#include "X11WindowProbe.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace testing_support {

namespace {

// The program itself or one of its plug-in processes.
bool isOwnedBy(long pid, long owner) {
    if (pid == owner) return true;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos) return false;
    std::istringstream fields(line.substr(close + 2));
    char state = 0;
    long parent = 0;
    fields >> state >> parent;
    return parent == owner;
}

Display* asDisplay(void* handle) {
    return static_cast<Display*>(handle);
}

// Windows come and go while they are looked at; Xlib's default handler
// would end the test process on the first stale id.
int ignoreXError(Display*, XErrorEvent*) {
    return 0;
}

}  // namespace

X11WindowProbe::X11WindowProbe() : display(XOpenDisplay(nullptr)) {
    XSetErrorHandler(ignoreXError);
}

X11WindowProbe::~X11WindowProbe() {
    if (display) XCloseDisplay(asDisplay(display));
}

std::vector<WindowInfo> X11WindowProbe::windowsTitled(const std::string& title) {
    std::vector<WindowInfo> found;
    if (!display) return found;
    Display* connection = asDisplay(display);
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    XQueryTree(connection, DefaultRootWindow(connection), &root, &parent, &children, &count);
    for (unsigned i = 0; i < count; ++i) {
        char* name = nullptr;
        if (!XFetchName(connection, children[i], &name) || !name) continue;
        const std::string windowTitle = name;
        XFree(name);
        const bool prefix = title.size() >= 3 && title.compare(title.size() - 3, 3, " - ") == 0;
        if (prefix ? windowTitle.rfind(title, 0) != 0 : windowTitle != title) continue;
        if (ownerPid && !isOwnedBy(windowPid(children[i]), ownerPid)) continue;
        WindowInfo info;
        info.id = children[i];
        info.title = windowTitle;
        XClassHint hint{};
        if (XGetClassHint(connection, children[i], &hint)) {
            info.className = hint.res_class ? hint.res_class : "";
            if (hint.res_name) XFree(hint.res_name);
            if (hint.res_class) XFree(hint.res_class);
        }
        XWindowAttributes attributes{};
        XGetWindowAttributes(connection, children[i], &attributes);
        info.mapped = attributes.map_state == IsViewable;
        info.width = attributes.width;
        info.height = attributes.height;
        Window innerRoot = 0, innerParent = 0, *inner = nullptr;
        unsigned innerCount = 0;
        if (XQueryTree(connection, children[i], &innerRoot, &innerParent, &inner, &innerCount) &&
            innerCount > 0) {
            XWindowAttributes content{};
            XGetWindowAttributes(connection, inner[0], &content);
            info.contentWidth = content.width;
            info.contentHeight = content.height;
            Window contentRoot = 0, contentParent = 0, *editors = nullptr;
            unsigned editorCount = 0;
            if (XQueryTree(connection, inner[0], &contentRoot, &contentParent, &editors, &editorCount))
                info.contentChildren = static_cast<int>(editorCount);
            if (editors) XFree(editors);
        }
        if (inner) XFree(inner);
        found.push_back(info);
    }
    if (children) XFree(children);
    return found;
}

bool X11WindowProbe::waitFor(const std::string& title, bool (*check)(const std::vector<WindowInfo>&),
                           int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        if (check(windowsTitled(title))) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

long X11WindowProbe::windowPid(unsigned long window) {
    Display* connection = asDisplay(display);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    long pid = 0;
    if (XGetWindowProperty(connection, window, XInternAtom(connection, "_NET_WM_PID", False), 0, 1,
                           False, XA_CARDINAL, &type, &format, &count, &after, &data) == Success &&
        data && count == 1 && format == 32)
        pid = *reinterpret_cast<long*>(data);
    if (data) XFree(data);
    return pid;
}

void X11WindowProbe::requestClose(unsigned long window) {
    Display* connection = asDisplay(display);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(connection, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(connection, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(connection, window, False, NoEventMask, &event);
    XFlush(connection);
}

bool X11WindowProbe::clickChild(unsigned long window, const std::string& name) {
    Display* connection = asDisplay(display);
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    Window target = 0;
    if (XQueryTree(connection, window, &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count && !target; ++i) {
            char* childName = nullptr;
            if (XFetchName(connection, children[i], &childName) && childName) {
                if (name == childName) target = children[i];
                XFree(childName);
            }
        }
    }
    if (children) XFree(children);
    if (!target) return false;
    for (int type : {ButtonPress, ButtonRelease}) {
        XEvent event{};
        event.xbutton.type = type;
        event.xbutton.window = target;
        event.xbutton.button = Button1;
        event.xbutton.same_screen = True;
        XSendEvent(connection, target, False,
                   type == ButtonPress ? ButtonPressMask : ButtonReleaseMask, &event);
    }
    XFlush(connection);
    return true;
}

}  // namespace testing_support
