#include "host/VST2Host.h"

#include <algorithm>
#include <cstdio>

VST2Host::VST2Host(GuiThread& gui, uint16_t port) : gui(gui), server(port) {
    std::printf("setting Host buffer size to %u\n", defaults.blockSize.load());
    std::fflush(stdout);
    server.listen(this);
}

VST2Host::~VST2Host() {
    shutdown();
}

std::shared_ptr<ConnectionHandler> VST2Host::onConnect(std::shared_ptr<MessageSink> sink,
                                                       WireProtocol protocol) {
    auto session = std::make_shared<Session>(
        gui, defaults, std::move(sink), protocol, scans, catalogue,
        [this](const std::shared_ptr<Session>& closed) { retire(closed); });
    {
        std::lock_guard<std::mutex> lock(sessionsMutex);
        sessions.push_back(session);
    }
    session->greet();
    return session;
}

void VST2Host::retire(const std::shared_ptr<Session>& session) {
    if (session->plugin().unloadsOnGuiThread()) {
        // After whatever the session queued there. If the loop has already
        // ended, shutdown unloads it.
        gui.post([this, session] {
            session->plugin().unload();
            forget(*session);
        });
        return;
    }
    forget(*session);
    teardowns.start([session] { session->plugin().unload(); },
                    [session] { session->plugin().hurry(); });
}

void VST2Host::forget(Session& session) {
    std::lock_guard<std::mutex> lock(sessionsMutex);
    sessions.erase(std::remove_if(sessions.begin(), sessions.end(),
                                  [&](const auto& s) { return s.get() == &session; }),
                   sessions.end());
}

std::vector<std::shared_ptr<Session>> VST2Host::sessionsNow() {
    std::lock_guard<std::mutex> lock(sessionsMutex);
    return sessions;
}

bool VST2Host::hasOpenEditor() {
    for (const auto& session : sessionsNow())
        if (session->plugin().hasOpenEditor()) return true;
    return false;
}

void VST2Host::idleEditors() {
    for (const auto& session : sessionsNow()) session->plugin().idleEditor();
}

void VST2Host::shutdown() {
    // A worker waiting on this thread would keep the server from stopping.
    gui.releaseWaiters();
    teardowns.hurryAll();
    scans.stop();      // a walk of "/" takes seconds; nobody waits for it now
    catalogue.stop();  // kills the probes: a hung one would hold the end 10 s
    server.stop();     // every closed connection retires its session
    const auto remaining = sessionsNow();
    for (const auto& session : remaining) session->plugin().closeEditor();
    for (const auto& session : remaining) {
        if (session->plugin().unloadsOnGuiThread()) session->plugin().unload();
        else retire(session);
    }
    teardowns.waitAll();
    std::lock_guard<std::mutex> lock(sessionsMutex);
    sessions.clear();
}
