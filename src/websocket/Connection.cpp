#include "websocket/Connection.h"

#include <algorithm>
#include <chrono>
#include <new>

#include "websocket/WebSocketFrame.h"

namespace {

// Texts and state blobs; audio blocks are sent in place. A reply larger than
// this (a state blob) is let go again once sent.
constexpr std::size_t keptFrameBytes = 32768 + 16;
// What one read takes from the socket: a block of 4096 frames and its header.
constexpr std::size_t receiveBytes = 64 * 1024;
// How often a connection waiting for bytes looks whether the server stops.
constexpr int stopCheckMs = 250;
// How long a close of ours waits for the client's (a browser answers at once).
constexpr auto closeAnswerWait = std::chrono::seconds(2);

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
    if (!conn || closeSent) return;
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

void Connection::serve(ClientSocket& socket, const std::atomic<bool>& stopping) {
    using Clock = std::chrono::steady_clock;
    std::vector<uint8_t> inbox(receiveBytes);
    bool awaitingClose = false;
    Clock::time_point closeDeadline;
    while (!stopping.load()) {
        int waitMs = stopCheckMs;
        if (awaitingClose) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(closeDeadline - Clock::now());
            if (left.count() <= 0) return;
            waitMs = std::min<int>(waitMs, static_cast<int>(left.count()));
        }
        const long got = socket.receive(inbox.data(), inbox.size(), waitMs);
        if (got < 0) return;
        std::size_t offset = 0;
        while (offset < static_cast<std::size_t>(got)) {
            std::size_t taken = 0;
            const FrameJoiner::Step step = joiner.push(inbox.data() + offset, got - offset, taken);
            offset += taken;
            switch (step.outcome) {
                case FrameJoiner::Outcome::More:
                    break;
                case FrameJoiner::Outcome::Text:
                case FrameJoiner::Outcome::Binary:
                    if (!deliver(step.outcome)) return;
                    break;
                case FrameJoiner::Outcome::Close:
                    // Without a status (a ping, a pong) the connection just ends.
                    if (!step.closeStatus) return;
                    sendClose(step.closeStatus);
                    awaitingClose = true;
                    closeDeadline = Clock::now() + closeAnswerWait;
                    break;
                case FrameJoiner::Outcome::ClientClose:
                    sendClose(step.closeStatus);  // dropped when it answers a close of ours
                    return;
            }
        }
    }
}

bool Connection::deliver(FrameJoiner::Outcome message) {
    bool keepOpen = true;
    try {
        if (handler) {
            keepOpen = message == FrameJoiner::Outcome::Text ? handler->onText(joiner.text())
                                                             : handler->onBinary(joiner.binary());
        }
    } catch (const std::bad_alloc&) {
        // A message that cannot be handled costs its connection, not the program.
        joiner.clear();
        sendClose(FrameJoiner::tooBig);
        return false;
    }
    joiner.clear();
    return keepOpen;
}

void Connection::write(uint8_t opcode, const void* data, std::size_t length) {
    std::lock_guard<std::mutex> lock(sendMutex);
    if (!conn || closeSent) return;
    closeSent = opcode == websocket::closeOpcode;
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
