// Where a session's replies go: one connection. Safe from any thread; once
// the connection has closed, whatever is sent is dropped.
#pragma once

#include <cstddef>
#include <string_view>

class MessageSink {
public:
    virtual void sendText(std::string_view text) = 0;
    virtual void sendBinary(const void* data, std::size_t length) = 0;

protected:
    ~MessageSink() = default;
};
