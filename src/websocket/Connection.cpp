#include "websocket/Connection.h"

#include "websocket/WebSocketFrame.h"

namespace {

// Texts and state blobs; audio blocks are sent in place. A reply larger than
// this (a state blob) is let go again once sent.
constexpr std::size_t keptFrameBytes = 32768 + 16;

static_assert(websocket::maxHeaderBytes <= MessageSink::headroomBytes);

}  // namespace

Connection::Connection(mg_connection* conn) : conn(conn) {
    frame.reserve(keptFrameBytes);
}

void Connection::sendText(std::string_view text) {
    write(websocket::textOpcode, text.data(), text.size());
}

void Connection::sendBinary(const void* data, std::size_t length) {
    write(websocket::binaryOpcode, data, length);
}

void Connection::sendBinaryInPlace(uint8_t* payload, std::size_t length) {
    std::lock_guard<std::mutex> lock(sendMutex);
    if (!conn) return;
    const uint8_t* frameStart = websocket::headerBefore(payload, websocket::binaryOpcode, length);
    writeWhole(frameStart, static_cast<std::size_t>(payload + length - frameStart));
}

void Connection::sendClose(uint16_t status) {
    const uint8_t payload[2] = {static_cast<uint8_t>(status >> 8), static_cast<uint8_t>(status)};
    write(websocket::closeOpcode, payload, status ? sizeof payload : 0);
}

void Connection::markClosed() {
    std::lock_guard<std::mutex> lock(sendMutex);
    conn = nullptr;
    frame = std::vector<uint8_t>();
}

void Connection::write(uint8_t opcode, const void* data, std::size_t length) {
    std::lock_guard<std::mutex> lock(sendMutex);
    if (!conn) return;
    websocket::buildFrame(frame, opcode, data, length);
    writeWhole(frame.data(), frame.size());
    if (frame.capacity() > keptFrameBytes) {
        frame = std::vector<uint8_t>();
        frame.reserve(keptFrameBytes);
    }
}

void Connection::writeWhole(const uint8_t* bytes, std::size_t size) {
    // One write: header and payload leave together, in one segment.
    mg_lock_connection(conn);
    mg_write(conn, bytes, size);
    mg_unlock_connection(conn);
}
