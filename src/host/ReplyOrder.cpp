#include "host/ReplyOrder.h"

uint64_t ReplyOrder::reserve() {
    std::lock_guard<std::mutex> lock(mutex);
    return nextPlace++;
}

void ReplyOrder::fill(uint64_t place, std::string text, std::optional<std::string> binary) {
    std::lock_guard<std::mutex> lock(mutex);
    if (place < nextToSend || place >= nextPlace) return;  // not a place in line
    waiting[place] = {std::move(text), std::move(binary)};
    for (auto next = waiting.find(nextToSend); next != waiting.end();
         next = waiting.find(nextToSend)) {
        sink->sendText(next->second.text);
        if (next->second.binary)
            sink->sendBinary(next->second.binary->data(), next->second.binary->size());
        waiting.erase(next);
        ++nextToSend;
    }
}
