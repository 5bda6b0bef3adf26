#include "Version2Connection.h"

#include <cstring>

namespace compat {

namespace {

using nlohmann::json;

// A heavy plug-in on a loaded machine can take many seconds to load.
constexpr int replyWaitMs = 60000;
constexpr std::size_t headerBytes = 16;

void putWord(std::string& bytes, uint32_t word) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>(word >> (8 * i)));
}

uint32_t wordAt(const std::string& bytes, std::size_t at) {
    uint32_t word = 0;
    for (int i = 3; i >= 0; --i) word = word << 8 | static_cast<uint8_t>(bytes[at + i]);
    return word;
}

}  // namespace

bool Version2Connection::open(uint16_t port) {
    client.offerSubprotocols("corvel.2");
    return client.connect(port, 20000) && client.receiveText(20000);  // the greeting
}

json Version2Connection::ask(json request) {
    request["id"] = ++lastId;
    if (!client.sendText(request.dump())) return json::object();
    for (;;) {
        const auto text = client.receiveText(replyWaitMs);
        if (!text) return json::object();
        json message = json::parse(*text, nullptr, false);
        if (message.is_object() && !message.contains("event")) return message;
    }
}

bool Version2Connection::sendBlock(const std::vector<float>& samples, uint32_t frames,
                                   const std::vector<uint8_t>& records) {
    std::string message;
    message.reserve(headerBytes + records.size() + samples.size() * sizeof(float));
    putWord(message, frames);
    putWord(message, static_cast<uint32_t>(samples.size() / frames));
    putWord(message, static_cast<uint32_t>(records.size()));
    putWord(message, 0);  // flags
    message.append(reinterpret_cast<const char*>(records.data()), records.size());
    message.append(reinterpret_cast<const char*>(samples.data()), samples.size() * sizeof(float));
    return client.sendBinary(message);
}

bool Version2Connection::receiveBlock(uint32_t frames, std::vector<float>& channels,
                                      uint32_t& count) {
    std::optional<testing_support::WsMessage> message;
    do {  // past events
        message = client.receive(replyWaitMs);
    } while (message && message->isText());
    if (!message || !message->isBinary() || message->payload.size() < headerBytes) return false;
    const std::string& bytes = message->payload;
    count = wordAt(bytes, 4);
    const std::size_t records = wordAt(bytes, 8);
    const std::size_t audio = std::size_t(count) * frames * sizeof(float);
    if (wordAt(bytes, 0) != frames || count == 0 || records > bytes.size() - headerBytes ||
        bytes.size() - headerBytes - records != audio)
        return false;
    channels.resize(audio / sizeof(float));
    std::memcpy(channels.data(), bytes.data() + headerBytes + records, audio);
    return true;
}

void addMidiRecord(std::vector<uint8_t>& records, uint32_t frame, uint8_t status, uint8_t data1,
                   uint8_t data2) {
    const uint8_t record[12] = {1,
                                0,
                                8,
                                0,  // type, body length
                                static_cast<uint8_t>(frame),
                                static_cast<uint8_t>(frame >> 8),
                                static_cast<uint8_t>(frame >> 16),
                                static_cast<uint8_t>(frame >> 24),
                                status,
                                data1,
                                data2,
                                0};
    records.insert(records.end(), record, record + sizeof record);
}

}  // namespace compat
