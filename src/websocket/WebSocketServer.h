// The WebSocket control channel: accepts up to maxConnections clients at
// once, joins each one's frames into whole messages for its handler and
// carries the replies.
#pragma once

#include <CivetServer.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>

#include "trust/OriginGate.h"
#include "websocket/Connection.h"
#include "websocket/ConnectionHandler.h"
#include "websocket/SilentSockets.h"
#include "websocket/TestPage.h"

class WebSocketServer : public CivetWebSocketHandler {
public:
    static constexpr uint16_t defaultPort = 9001;
    static constexpr std::size_t maxConnections = 64;

    explicit WebSocketServer(uint16_t port = defaultPort);
    ~WebSocketServer() override;
    WebSocketServer(const WebSocketServer&) = delete;
    WebSocketServer& operator=(const WebSocketServer&) = delete;

    bool handleConnection(CivetServer* server, const mg_connection* conn) override;
    // Serves the connection: reads its frames until it ends.
    void handleReadyState(CivetServer* server, mg_connection* conn) override;
    bool handleData(CivetServer* server, mg_connection* conn, int bits, char* data,
                    size_t length) override;
    void handleClose(CivetServer* server, const mg_connection* conn) override;

    // Starts the server on 127.0.0.1:port with its handler already in place,
    // so no client is ever served without one. Throws CivetException when
    // the port cannot be bound.
    void listen(ConnectionAcceptor* receiver);
    // Detaches the handler and stops the server, closing every connection.
    void stop();
    // Who asks the user about an origin outside the allow-list; until one
    // is set, such origins are refused. It must outlive the channel's stop().
    void setConsentPrompt(ConsentPrompt* prompt) { gate.setPrompt(prompt); }

    // The subprotocol a client offers to speak protocol 2.
    static constexpr const char* version2Subprotocol = "corvel.2";

private:
    static Connection* connectionOf(const mg_connection* conn);

    std::atomic<ConnectionAcceptor*> handler{nullptr};
    std::atomic<bool> stopping{false};  // set by stop(): connections stop reading
    OriginGate gate;                    // decides every handshake before anything else
    CivetServer* server = nullptr;
    std::mutex tableMutex;                    // guards accepted and connections
    std::set<const mg_connection*> accepted;  // handshakes let through, not yet closed
    std::set<std::shared_ptr<Connection>> connections;
    uint16_t port;
    SilentSockets silentSockets;  // outlives the server, whose workers report to it
    // The only subprotocols answered; the library would echo any other.
    const char* subprotocolNames[1] = {version2Subprotocol};
    mg_websocket_subprotocols subprotocols{1, subprotocolNames};
    TestPage page;  // outlives the server, which is deleted in stop()
};
