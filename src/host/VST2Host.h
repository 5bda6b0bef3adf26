// The host controller: owns the control channel and the table of sessions,
// one per connection, and runs their editors' idle calls and the shutdown.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "host/Session.h"
#include "host/SessionDefaults.h"
#include "host/Teardowns.h"
#include "shell/EditorIdler.h"
#include "shell/GuiThread.h"
#include "websocket/ConnectionHandler.h"
#include "websocket/WebSocketServer.h"

class VST2Host final : public ConnectionAcceptor, public EditorIdler {
public:
    // Opens the channel on 127.0.0.1:port; throws CivetException when the
    // port cannot be bound.
    VST2Host(GuiThread& gui, uint16_t port = WebSocketServer::defaultPort);
    ~VST2Host();
    VST2Host(const VST2Host&) = delete;
    VST2Host& operator=(const VST2Host&) = delete;

    // A connection's worker thread.
    std::shared_ptr<ConnectionHandler> onConnect(std::shared_ptr<MessageSink> sink,
                                                 WireProtocol protocol) override;

    // Before the GUI loop runs; the prompt must outlive shutdown().
    void setConsentPrompt(ConsentPrompt* prompt) { server.setConsentPrompt(prompt); }

    // GUI thread.
    bool hasOpenEditor() override;
    void idleEditors() override;
    // Stops the channel, then closes every editor and unloads every plug-in.
    void shutdown();

private:
    std::vector<std::shared_ptr<Session>> sessionsNow();
    // Ends a closed session's plug-in: on the GUI thread when it lives
    // there, in parallel with the others otherwise.
    void retire(const std::shared_ptr<Session>& session);
    void forget(Session& session);

    GuiThread& gui;
    SessionDefaults defaults;
    std::mutex sessionsMutex;
    std::vector<std::shared_ptr<Session>> sessions;
    ScanService scans;
    Catalogue catalogue;  // one for every session: they share its scans
    Teardowns teardowns;
    WebSocketServer server;  // last: stopped and destroyed before the sessions it serves
};
