#include "pluginhost/PipeSink.h"

void PipeSink::sendText(std::string_view text) {
    pipe.send(static_cast<uint32_t>(bridge::Reply::text), text.data(), text.size());
}

void PipeSink::sendBinary(const void* data, std::size_t length) {
    pipe.send(static_cast<uint32_t>(bridge::Reply::binary), data, length);
}
