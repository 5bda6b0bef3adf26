#include "app/Startup.h"

#include <cstdlib>

#include "host/VST2Host.h"

uint16_t listeningPort() {
    const char* text = std::getenv("CORVEL_TEST_PORT");
    if (!text || !*text) return WebSocketServer::defaultPort;
    char* end = nullptr;
    const long port = std::strtol(text, &end, 10);
    if (*end != '\0' || port < 1 || port > 65535) return WebSocketServer::defaultPort;
    return static_cast<uint16_t>(port);
}

std::unique_ptr<VST2Host> startHost(GuiThread& gui, std::string& error) {
    const uint16_t port = listeningPort();
    try {
        return std::make_unique<VST2Host>(gui, port);
    } catch (const CivetException& failure) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + failure.what();
        return nullptr;
    }
}
