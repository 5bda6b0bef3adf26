// Protocol 2's promise that replies come in the order of the requests,
// though some are answered at once on the connection's thread and others
// later by the plug-in's thread (a load, say). Each request takes a place
// in line; a reply goes out once every earlier place has been filled.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "websocket/MessageSink.h"

class ReplyOrder {
public:
    explicit ReplyOrder(std::shared_ptr<MessageSink> sink) : sink(std::move(sink)) {}

    // Any thread. The next place in line.
    uint64_t reserve();
    // Any thread, once per place: the reply's text and, for a state, the
    // binary message that follows it.
    void fill(uint64_t place, std::string text, std::optional<std::string> binary = std::nullopt);

private:
    struct Reply {
        std::string text;
        std::optional<std::string> binary;
    };

    std::shared_ptr<MessageSink> sink;
    std::mutex mutex;  // held while sending too, so sends keep the order
    uint64_t nextPlace = 1;
    uint64_t nextToSend = 1;
    std::map<uint64_t, Reply> waiting;  // filled, behind an earlier place
};
