// One accepted WebSocket connection: its frame joiner, its handler, the loop
// that reads its frames, and the sending side its session replies through.
#pragma once

#include <CivetServer.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "websocket/ClientSocket.h"
#include "websocket/ConnectionHandler.h"
#include "websocket/FrameJoiner.h"
#include "websocket/MessageSink.h"

class Connection final : public MessageSink {
public:
    explicit Connection(mg_connection* conn);

    void sendText(std::string_view text) override;
    void sendBinary(const void* data, std::size_t length) override;
    void sendBinaryInPlace(uint8_t* payload, std::size_t length) override;
    // A close frame carrying status (none when 0). Only the first close is
    // sent, and nothing at all after it.
    void sendClose(uint16_t status);
    // After this, sends are dropped: the library may reuse the connection.
    void markClosed();

    // Reads the client's frames and hands each whole message to the handler
    // until the connection ends: a close from either side, a message the
    // handler refuses, the end of the stream, or `stopping`. After a close
    // of its own it waits a little for the client's answering close, so the
    // stream ends cleanly. On the connection's worker thread.
    void serve(ClientSocket& socket, const std::atomic<bool>& stopping);

    FrameJoiner joiner;                          // worker thread only
    std::shared_ptr<ConnectionHandler> handler;  // set once ready, worker thread only

private:
    // Hands the joiner's whole message to the handler; false ends the connection.
    bool deliver(FrameJoiner::Outcome message);
    void write(uint8_t opcode, const void* data, std::size_t length);
    // Under sendMutex.
    void writeWhole(const uint8_t* bytes, std::size_t size);

    std::mutex sendMutex;  // the worker and the GUI thread both reply; guards what follows
    mg_connection* conn;
    std::vector<uint8_t> frame;
    bool closeSent = false;
};
