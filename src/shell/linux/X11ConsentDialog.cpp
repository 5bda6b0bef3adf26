#include "shell/linux/X11ConsentDialog.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace {

constexpr char title[] = "Corvel VST/Remote";
constexpr int margin = 16;
constexpr int buttonWidth = 90;
constexpr int buttonHeight = 28;
constexpr int pollMs = 250;

int textWidth(XFontStruct* font, const std::string& text) {
    return font ? XTextWidth(font, text.data(), static_cast<int>(text.size()))
                : 6 * static_cast<int>(text.size());
}

void setProperty(Display* display, Window window, const char* name, Atom type, int format,
                 const void* data, int count) {
    XChangeProperty(display, window, XInternAtom(display, name, False), type, format,
                    PropModeReplace, static_cast<const unsigned char*>(data), count);
}

}  // namespace

X11ConsentDialog::~X11ConsentDialog() {
    stopping.store(true);
    pumped.notify_all();
    if (watcher.joinable()) watcher.join();
    while (!dialogs.empty()) finish(dialogs.size() - 1, Answer::Unavailable);
    if (display) {
        if (font) XFreeFont(display, font);
        if (gc) XFreeGC(display, gc);
        XCloseDisplay(display);
    }
}

void X11ConsentDialog::ask(const std::string& origin, Reply reply) {
    if (!gui.post([this, origin, reply] { open(origin, reply); })) reply(Answer::Unavailable);
}

bool X11ConsentDialog::connect() {
    if (display) return true;
    display = XOpenDisplay(nullptr);
    if (!display) return false;
    font = XLoadQueryFont(display, "fixed");
    gc = XCreateGC(display, DefaultRootWindow(display), 0, nullptr);
    if (font) XSetFont(display, gc, font->fid);
    XSetForeground(display, gc, BlackPixel(display, DefaultScreen(display)));
    deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    watcher = std::thread(&X11ConsentDialog::watch, this);
    return true;
}

void X11ConsentDialog::open(const std::string& origin, Reply reply) {
    if (stopping.load() || !connect()) {
        reply(Answer::Unavailable);
        return;
    }
    Dialog dialog;
    dialog.question = "Allow " + origin + " to use the VST plug-ins on this computer?";
    dialog.reply = std::move(reply);
    const int screen = DefaultScreen(display);
    const int width =
        std::max(textWidth(font, dialog.question) + 2 * margin, 2 * buttonWidth + 3 * margin);
    const int height = 3 * margin + 20 + buttonHeight;
    const int x = std::max(0, (DisplayWidth(display, screen) - width) / 2);
    const int y = std::max(0, (DisplayHeight(display, screen) - height) / 2);
    dialog.frame = XCreateSimpleWindow(display, DefaultRootWindow(display), x, y, width, height, 1,
                                       BlackPixel(display, screen), WhitePixel(display, screen));
    XStoreName(display, dialog.frame, title);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    setProperty(display, dialog.frame, "_NET_WM_NAME", utf8, 8, title, sizeof title - 1);
    const long pid = static_cast<long>(getpid());
    setProperty(display, dialog.frame, "_NET_WM_PID", XA_CARDINAL, 32, &pid, 1);
    const Atom dialogType = XInternAtom(display, "_NET_WM_WINDOW_TYPE_DIALOG", False);
    setProperty(display, dialog.frame, "_NET_WM_WINDOW_TYPE", XA_ATOM, 32, &dialogType, 1);
    const Atom above = XInternAtom(display, "_NET_WM_STATE_ABOVE", False);
    setProperty(display, dialog.frame, "_NET_WM_STATE", XA_ATOM, 32, &above, 1);
    XClassHint hint{const_cast<char*>("consent"), const_cast<char*>("CorvelVstRemote")};
    XSetClassHint(display, dialog.frame, &hint);
    XSizeHints size{};
    size.flags = PPosition | PMinSize | PMaxSize;
    size.x = x;
    size.y = y;
    size.min_width = size.max_width = width;
    size.min_height = size.max_height = height;
    XSetWMNormalHints(display, dialog.frame, &size);
    XSetWMProtocols(display, dialog.frame, &deleteWindow, 1);
    XSelectInput(display, dialog.frame, ExposureMask | StructureNotifyMask);
    const int buttonsY = height - margin - buttonHeight;
    dialog.allowButton =
        makeButton(dialog.frame, "Allow", width - 2 * (buttonWidth + margin), buttonsY);
    dialog.denyButton = makeButton(dialog.frame, "Deny", width - buttonWidth - margin, buttonsY);
    XMapSubwindows(display, dialog.frame);
    XMapRaised(display, dialog.frame);
    dialogs.push_back(std::move(dialog));
    // The round trips above may have queued events the watcher will never see.
    pumpEvents();
}

Window X11ConsentDialog::makeButton(Window frame, const char* label, int x, int y) {
    const int screen = DefaultScreen(display);
    const Window button =
        XCreateSimpleWindow(display, frame, x, y, buttonWidth, buttonHeight, 1,
                            BlackPixel(display, screen), WhitePixel(display, screen));
    // Named, so that assistive tools and tests can tell the buttons apart.
    XStoreName(display, button, label);
    XSelectInput(display, button, ExposureMask | ButtonPressMask | ButtonReleaseMask);
    return button;
}

void X11ConsentDialog::draw(const Dialog& dialog) const {
    const int ascent = font ? font->ascent : 10;
    XDrawString(display, dialog.frame, gc, margin, margin + ascent, dialog.question.data(),
                static_cast<int>(dialog.question.size()));
    const std::pair<Window, std::string> buttons[] = {{dialog.allowButton, "Allow"},
                                                      {dialog.denyButton, "Deny"}};
    for (const auto& [button, label] : buttons) {
        const int x = (buttonWidth - textWidth(font, label)) / 2;
        XDrawString(display, button, gc, x, (buttonHeight + ascent) / 2, label.data(),
                    static_cast<int>(label.size()));
    }
}

void X11ConsentDialog::pumpEvents() {
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        for (std::size_t i = 0; i < dialogs.size(); ++i) {
            const Dialog& dialog = dialogs[i];
            const Window target = event.xany.window;
            if (target != dialog.frame && target != dialog.allowButton &&
                target != dialog.denyButton)
                continue;
            if (event.type == Expose && event.xexpose.count == 0) {
                draw(dialog);
            } else if (event.type == ButtonRelease && target != dialog.frame) {
                finish(i, target == dialog.allowButton ? Answer::Allow : Answer::Deny);
            } else if (event.type == ClientMessage &&
                       static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow) {
                // Closed without an answer: this attempt is refused, the next one asks again.
                finish(i, Answer::Unavailable);
            }
            break;
        }
    }
    XFlush(display);
}

void X11ConsentDialog::finish(std::size_t index, Answer answer) {
    Dialog dialog = std::move(dialogs[index]);
    dialogs.erase(dialogs.begin() + static_cast<std::ptrdiff_t>(index));
    XDestroyWindow(display, dialog.frame);
    XFlush(display);
    dialog.reply(answer);
}

void X11ConsentDialog::watch() {
    const int fd = ConnectionNumber(display);
    while (!stopping.load()) {
        pollfd watched{fd, POLLIN, 0};
        if (poll(&watched, 1, pollMs) <= 0) continue;
        std::unique_lock<std::mutex> lock(pumpMutex);
        if (!pumpQueued) {
            pumpQueued = true;
            const bool posted = gui.post([this] {
                pumpEvents();
                std::lock_guard<std::mutex> done(pumpMutex);
                pumpQueued = false;
                pumped.notify_all();
            });
            if (!posted) return;  // the GUI loop has ended
        }
        // Until the GUI thread has read the events, the connection stays readable.
        pumped.wait_for(lock, std::chrono::milliseconds(pollMs),
                        [this] { return !pumpQueued || stopping.load(); });
    }
}
