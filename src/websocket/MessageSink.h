// Where a session's replies go: one connection. Safe from any thread; once
// the connection has closed, whatever is sent is dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

class MessageSink {
public:
    // The room sendBinaryInPlace needs in front of a payload: a frame's
    // longest header fits, and a payload behind it in an allocation of
    // ours keeps the allocation's 16-byte alignment.
    static constexpr std::size_t headroomBytes = 16;

    virtual void sendText(std::string_view text) = 0;
    virtual void sendBinary(const void* data, std::size_t length) = 0;
    // A binary message sent without a copy: its header is written into the
    // headroomBytes just before payload, which must be the caller's to
    // overwrite. However long, it allocates nothing.
    virtual void sendBinaryInPlace(uint8_t* payload, std::size_t length) = 0;

protected:
    ~MessageSink() = default;
};
