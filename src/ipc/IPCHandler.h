// Receiver of the channel's complete messages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class IPCHandler {
public:
    // The storage stays the channel's. True keeps the connection open.
    virtual bool onBinary(const std::vector<uint8_t>& message) = 0;
    // A non-empty reply is sent back as one text message.
    virtual bool onText(std::string message, std::string& reply) = 0;
    virtual bool onReady() = 0;

protected:
    ~IPCHandler() = default;  // the channel never deletes its handler
};
