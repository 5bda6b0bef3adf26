#include "websocket/WebSocketServer.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "trust/AllowListLocation.h"
#include "websocket/HandshakeCheck.h"
#include "websocket/HttpRefusal.h"
#include "websocket/ServerLimits.h"
#include "websocket/ServerOptions.h"
#include "websocket/SilentSockets.h"

namespace {

void printLine(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

// A worker has taken a connection and is about to read its request.
int onConnectionTaken(const mg_connection* conn, void**) {
    const auto* server = static_cast<const CivetServer*>(mg_get_user_data(mg_get_context(conn)));
    if (server && server->getUserContext())
        static_cast<SilentSockets*>(const_cast<void*>(server->getUserContext()))->connectionTaken();
    return 0;
}

// The library's callbacks, registered with our list of subprotocols, which
// its C++ wrapper cannot pass.
WebSocketServer& serverOf(void* data) {
    return *static_cast<WebSocketServer*>(data);
}

int onConnection(const mg_connection* conn, void* data) {
    return serverOf(data).handleConnection(nullptr, conn) ? 0 : 1;
}

void onReady(mg_connection* conn, void* data) {
    serverOf(data).handleReadyState(nullptr, conn);
}

int onData(mg_connection* conn, int bits, char* bytes, size_t length, void* data) {
    return serverOf(data).handleData(nullptr, conn, bits, bytes, length) ? 1 : 0;
}

void onClose(const mg_connection* conn, void* data) {
    serverOf(data).handleClose(nullptr, conn);
}

}  // namespace

WebSocketServer::WebSocketServer(uint16_t port)
    : gate(port, AllowList(allowListLocation())), port(port), silentSockets(port) {}

WebSocketServer::~WebSocketServer() {
    stop();
}

void WebSocketServer::listen(ConnectionAcceptor* receiver) {
    handler.store(receiver);
    stopping.store(false);
    const std::string address = "127.0.0.1:" + std::to_string(port);
    // Without tcp_nodelay every round trip waits on delayed acknowledgements.
    std::vector<std::string> options = {"listening_ports", address, "tcp_nodelay",
                                        serverNoDelay() ? "1" : "0"};
    // Workers for every session plus silent sockets, and timeouts (ServerLimits.cpp).
    for (std::string& option : serverLimitOptions(maxConnections))
        options.push_back(std::move(option));
    CivetCallbacks callbacks;
    callbacks.init_connection = onConnectionTaken;
    server = new CivetServer(options, &callbacks, &silentSockets);
    silentSockets.start();
    mg_set_websocket_handler_with_subprotocols(const_cast<mg_context*>(server->getContext()), "/",
                                               &subprotocols, onConnection, onReady, onData,
                                               onClose, this);
    // Plain HTTP requests get the built-in test page; upgrades stay with this channel.
    server->addHandler("/", page);
}

void WebSocketServer::stop() {
    handler.store(nullptr);
    gate.shutdown();  // handshakes waiting on a dialog would hold up the server's end
    if (server) {
        // Every client gets a close; each connection's reading looks for the
        // stop every quarter second. The library's listener looks for it
        // only between waits of up to 2 s: a connection to our own port
        // ends its wait.
        {
            std::lock_guard<std::mutex> lock(tableMutex);
            for (const auto& connection : connections) connection->sendClose(1001);
        }
        stopping.store(true);
        std::atomic<bool> stopped{false};
        std::thread waker([this, &stopped] {
            while (!stopped.load()) {
                char error[128];
                if (mg_connection* knock =
                        mg_connect_client("127.0.0.1", port, 0, error, sizeof error))
                    mg_close_connection(knock);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        delete server;  // joins the worker threads, closing every connection
        stopped.store(true);
        waker.join();
        silentSockets.stop();
    }
    server = nullptr;
    std::lock_guard<std::mutex> lock(tableMutex);
    connections.clear();
}

Connection* WebSocketServer::connectionOf(const mg_connection* conn) {
    return static_cast<Connection*>(mg_get_user_connection_data(conn));
}

bool WebSocketServer::handleConnection(CivetServer*, const mg_connection* conn) {
    // The library sets the chosen subprotocol only for a handshake that
    // offers one; otherwise it keeps the choice of the connection its
    // worker served before, and would answer and serve a client that
    // offered nothing in protocol 2.
    if (!mg_get_header(conn, "Sec-WebSocket-Protocol"))
        const_cast<mg_request_info*>(mg_get_request_info(conn))->acceptedWebSocketSubprotocol =
            nullptr;
    if (!admitHandshake(gate, conn)) return false;
    // The library drops a handshake whose key it cannot answer without
    // reporting a close, which would leave a place taken for good.
    const char* key = mg_get_header(conn, "Sec-WebSocket-Key");
    if (!key || std::strlen(key) >= 60) {
        printLine("WS refused\n");
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(tableMutex);
        if (accepted.size() >= maxConnections) {
            printLine("WS refused\n");
            writeHttpRefusal(conn, 503, "Too many connections: at most 64 clients at once.\n");
            return false;
        }
        accepted.insert(conn);
    }
    printLine("WS connected\n");
    return true;
}

void WebSocketServer::handleReadyState(CivetServer*, mg_connection* conn) {
    printLine("WS ready\n");
    auto connection = std::make_shared<Connection>(conn);
    {
        std::lock_guard<std::mutex> lock(tableMutex);
        connections.insert(connection);
    }
    mg_set_user_connection_data(conn, connection.get());
    const char* chosen = mg_get_request_info(conn)->acceptedWebSocketSubprotocol;
    const WireProtocol protocol = chosen && std::strcmp(chosen, version2Subprotocol) == 0
                                      ? WireProtocol::version2
                                      : WireProtocol::original;
    if (ConnectionAcceptor* receiver = handler.load())
        connection->handler = receiver->onConnect(connection, protocol);
    if (std::optional<ClientSocket> socket = ClientSocket::of(conn)) {
        connection->serve(*socket, stopping);
    } else {
        printLine("WS cannot read the connection\n");
        connection->sendClose(1011);
    }
    // The connection has ended: the library skips its own frame loop and
    // goes on to close it. Frames a client sent along with its handshake,
    // before the answer (which RFC 6455 forbids), sit in the library's
    // request buffer, out of reach, and go with it.
    mg_disable_connection_keep_alive(conn);
}

bool WebSocketServer::handleData(CivetServer*, mg_connection*, int, char*, size_t) {
    // Frames are read in handleReadyState; the library's loop never runs.
    return false;
}

void WebSocketServer::handleClose(CivetServer*, const mg_connection* conn) {
    std::shared_ptr<Connection> closing;
    {
        std::lock_guard<std::mutex> lock(tableMutex);
        accepted.erase(conn);
        Connection* found = connectionOf(conn);
        for (auto it = connections.begin(); it != connections.end(); ++it) {
            if (it->get() == found) {
                closing = *it;
                connections.erase(it);
                break;
            }
        }
    }
    mg_set_user_connection_data(conn, nullptr);
    if (closing) {
        closing->markClosed();
        closing->joiner.release();  // a closed connection holds no message memory
        if (closing->handler) closing->handler->onClose();
        closing->handler.reset();
    }
    printLine("WS closed\n");
}
