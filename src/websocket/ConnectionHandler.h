// The server's contract with what it serves: one handler per connection.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "websocket/MessageSink.h"

// Receives one connection's whole messages, on that connection's worker thread.
class ConnectionHandler {
public:
    virtual ~ConnectionHandler() = default;
    // False closes the connection.
    virtual bool onText(std::string_view message) = 0;
    // The storage stays the channel's, which joins the next block into it.
    virtual bool onBinary(const std::vector<uint8_t>& message) = 0;
    // The connection has ended; nothing more arrives and replies are dropped.
    virtual void onClose() = 0;
};

// What a connection speaks, as its client chose in the handshake.
enum class WireProtocol {
    original,  // no subprotocol: the text commands of the first clients
    version2,  // "corvel.2": JSON requests and blocks with headers
};

class ConnectionAcceptor {
public:
    // A connection is ready: the handler that serves it, given where its
    // replies go. Called on the connection's worker thread.
    virtual std::shared_ptr<ConnectionHandler> onConnect(std::shared_ptr<MessageSink> sink,
                                                         WireProtocol protocol) = 0;

protected:
    ~ConnectionAcceptor() = default;  // the channel never deletes its handler
};
