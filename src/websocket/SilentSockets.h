// Sockets that connect and say nothing. Each would hold one of the server's
// workers until its request timeout, and a few hundred of them keep a real
// client's handshake waiting behind them for seconds.
//
// On Linux the kernel holds a connection back from the server until its
// first bytes arrive (TCP_DEFER_ACCEPT on the listener), so handshakes are
// answered first. When the kernel stops waiting it hands the silent ones on
// after all; as a worker takes a connection, a sweeping thread ends every
// accepted connection that has never sent a byte. Windows has no such hold:
// there a silent socket keeps its worker for the request timeout
// (ServerLimits.cpp), and this class does nothing.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

// How long a connection may stay silent before it is dropped.
constexpr int silentSecondsAllowed = 3;

class SilentSockets {
public:
    explicit SilentSockets(uint16_t port) : port(port) {}
    ~SilentSockets() { stop(); }
    SilentSockets(const SilentSockets&) = delete;
    SilentSockets& operator=(const SilentSockets&) = delete;

    // Once the server listens on 127.0.0.1:port: holds silent connections
    // back and starts the sweeping thread.
    void start();
    // Ends the sweeping thread.
    void stop();
    // A worker has taken a connection and is about to read its request
    // (the worker's thread): the sweeping thread looks soon.
    void connectionTaken();

private:
    void sweep();  // the sweeping thread

    const uint16_t port;
    std::mutex mutex;  // guards the two flags
    std::condition_variable changed;
    bool taken = false;
    bool ending = false;
    std::thread sweeper;
};
