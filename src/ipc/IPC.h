// The WebSocket control channel: joins frames into whole messages for its
// handler and sends replies. Serves one client at a time.
#pragma once

#include <CivetServer.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "ipc/FrameJoiner.h"
#include "ipc/IPCHandler.h"
#include "ipc/TestPage.h"

class IPC : public CivetWebSocketHandler {
public:
    static constexpr uint16_t defaultPort = 9001;

    explicit IPC(uint16_t port = defaultPort);
    ~IPC() override;
    IPC(const IPC&) = delete;
    IPC& operator=(const IPC&) = delete;

    bool handleConnection(CivetServer* server, const mg_connection* conn) override;
    void handleReadyState(CivetServer* server, mg_connection* conn) override;
    bool handleData(CivetServer* server, mg_connection* conn, int bits, char* data,
                    size_t length) override;
    void handleClose(CivetServer* server, const mg_connection* conn) override;

    void sendText(std::string text);
    void sendBinary(const void* data, size_t length);

    // Starts the server on 127.0.0.1:port with its handler already in place,
    // so no client is ever served without one. Throws CivetException when
    // the port cannot be bound.
    void listen(IPCHandler* receiver);
    // Detaches the handler and stops the server; later closes feed nothing.
    void stop();

    CivetServer* server = nullptr;
    std::atomic<mg_connection*> connection{nullptr};
    FrameJoiner joiner;
    std::atomic<IPCHandler*> handler{nullptr};

private:
    void write(int opcode, const void* data, size_t length);

    std::mutex slotMutex;                   // guards owner
    const mg_connection* owner = nullptr;  // the accepted client, from handshake to close
    std::mutex sendMutex;                   // guards connection against a concurrent close
    uint16_t port;
    TestPage page;  // outlives the server, which is deleted in stop()
};
