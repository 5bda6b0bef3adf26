// One accepted WebSocket connection: its frame joiner, its handler, and the
// sending side its session replies through.
#pragma once

#include <CivetServer.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "websocket/FrameJoiner.h"
#include "websocket/ConnectionHandler.h"
#include "websocket/MessageSink.h"

class Connection final : public MessageSink {
public:
    explicit Connection(mg_connection* conn);

    void sendText(std::string_view text) override;
    void sendBinary(const void* data, std::size_t length) override;
    void sendBinaryInPlace(uint8_t* payload, std::size_t length) override;
    void sendClose(uint16_t status);
    // After this, sends are dropped: the library may reuse the connection.
    void markClosed();

    FrameJoiner joiner;                          // worker thread only
    std::shared_ptr<ConnectionHandler> handler;  // set once ready, worker thread only

private:
    void write(uint8_t opcode, const void* data, std::size_t length);
    // Under sendMutex.
    void writeWhole(const uint8_t* bytes, std::size_t size);

    std::mutex sendMutex;  // the worker and the GUI thread both reply
    mg_connection* conn;
    std::vector<uint8_t> frame;
};
