#include "Version2Client.h"

#include <cstring>

namespace {

void putWord(std::vector<uint8_t>& bytes, uint32_t word) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(word >> (8 * i)));
}

uint32_t wordAt(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

}  // namespace

bool version2Request(BenchSocket& socket, int id, const std::string& fields) {
    const std::string idField = "\"id\":" + std::to_string(id);
    if (!socket.sendText("{" + idField + "," + fields + "}")) return false;
    for (int messages = 0; messages < 16; ++messages) {
        int opcode = 0;
        if (!socket.receive(opcode)) return false;
        if (opcode != 1) continue;
        const std::string text = socket.payloadText();
        // The program writes its JSON compact, so the fields read as sent.
        if (text.find(idField + ",") == std::string::npos &&
            text.find(idField + "}") == std::string::npos)
            continue;
        return text.find("\"ok\":true") != std::string::npos;
    }
    return false;
}

std::string jsonString(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

std::vector<uint8_t> version2Block(const std::vector<uint8_t>& channels, uint32_t frames,
                                   const std::vector<uint8_t>& records) {
    std::vector<uint8_t> message;
    message.reserve(version2HeaderBytes + records.size() + channels.size());
    putWord(message, frames);
    putWord(message, static_cast<uint32_t>(channels.size() / (sizeof(float) * frames)));
    putWord(message, static_cast<uint32_t>(records.size()));
    putWord(message, 0);  // flags
    message.insert(message.end(), records.begin(), records.end());
    message.insert(message.end(), channels.begin(), channels.end());
    return message;
}

void addParameterRecord(std::vector<uint8_t>& records, uint32_t frame, uint32_t index,
                        float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    putWord(records, 2 | 12u << 16);  // type, body length
    putWord(records, frame);
    putWord(records, index);
    putWord(records, bits);
}

void addMidiRecord(std::vector<uint8_t>& records, uint32_t frame, uint8_t status, uint8_t data1,
                   uint8_t data2) {
    putWord(records, 1 | 8u << 16);  // type, body length
    putWord(records, frame);
    putWord(records,
            status | static_cast<uint32_t>(data1) << 8 | static_cast<uint32_t>(data2) << 16);
}

const uint8_t* version2Channels(const uint8_t* reply, std::size_t size, uint32_t frames,
                                uint32_t channels) {
    if (size < version2HeaderBytes || wordAt(reply) != frames || wordAt(reply + 4) != channels ||
        wordAt(reply + 8) != 0)
        return nullptr;
    return reply + version2HeaderBytes;
}
