// Protocol 2's audio blocks: a header, typed records (MIDI, parameter
// changes and the transport in; MIDI and SysEx out, or a status), then the
// session's channels, planar. docs/protocol.md gives the layout.
#include <algorithm>
#include <cstring>

#include "host/Session.h"

namespace {

constexpr uint16_t midiRecord = 1;
constexpr uint16_t parameterRecord = 2;
constexpr uint16_t transportRecord = 3;
constexpr uint16_t midiOutRecord = 4;
constexpr uint16_t statusRecord = 5;
constexpr uint16_t sysexOutRecord = 6;
constexpr uint16_t transportBytes = 64;
enum BlockStatus : uint32_t { noPlugin = 1, bypassed, loading, crashed, malformed };

uint32_t readWord(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

void writeWord(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

double readDouble(const uint8_t* at) {
    const uint64_t bits = uint64_t(readWord(at)) | uint64_t(readWord(at + 4)) << 32;
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

Vexa::DSP::Transport readTransport(const uint8_t* body) {
    Vexa::DSP::Transport transport;
    const uint32_t flags = readWord(body);
    transport.playing = (flags & 1u) != 0;
    transport.recording = (flags & 2u) != 0;
    transport.cycle = (flags & 4u) != 0;
    transport.numerator = static_cast<int32_t>(readWord(body + 4));
    transport.denominator = static_cast<int32_t>(readWord(body + 8));
    transport.tempo = readDouble(body + 16);
    transport.position = readDouble(body + 24);
    transport.barStart = readDouble(body + 32);
    transport.cycleStart = readDouble(body + 40);
    transport.cycleEnd = readDouble(body + 48);
    transport.samplePosition = readDouble(body + 56);
    return transport;
}

// The record bytes the plug-in's outgoing events take.
std::size_t outgoingBytes(const bridge::MidiOut& out) {
    std::size_t bytes = 0;
    for (uint32_t i = 0; i < out.count; ++i)
        bytes += out.events[i].size <= 3 ? 12 : 8 + ((out.events[i].size + 3u) & ~3u);
    return bytes;
}

// Writes them from at; frames past the block's end are moved to its last.
void writeOutgoing(const bridge::MidiOut& out, uint8_t* at, uint32_t frames) {
    const uint32_t last = frames > 0 ? frames - 1 : 0;
    for (uint32_t i = 0; i < out.count; ++i) {
        const bridge::MidiOut::Event& event = out.events[i];
        const uint8_t* bytes = out.pool + event.offset;
        const bool shortMessage = event.size <= 3;
        const uint32_t length = shortMessage ? 8 : 4 + event.size;
        const uint32_t padded = (length + 3u) & ~3u;
        std::memset(at, 0, 4 + padded);
        at[0] = shortMessage ? midiOutRecord : sysexOutRecord;
        at[2] = static_cast<uint8_t>(length);
        at[3] = static_cast<uint8_t>(length >> 8);
        writeWord(at + 4, std::min(event.frame, last));
        std::memcpy(at + 8, bytes, event.size);
        at += 4 + padded;
    }
}

}  // namespace

void Session::setLayout(const bridge::ChannelLayout& chosen) {
    if (chosen == layout) return;
    layout = chosen;
    slot->setLayout(layout);
    inputPointers.assign(layout.inputs, nullptr);
    outputPointers.assign(layout.outputs, nullptr);
    allocateStaging();
}

void Session::handleBlockVersion2(const uint8_t* data, std::size_t size) {
    uint8_t status[blockHeaderBytes + 8] = {};
    const auto answerStatus = [&](uint32_t frames, uint32_t why) {
        writeWord(status, frames);
        writeWord(status + 8, 8);
        status[blockHeaderBytes] = statusRecord;
        status[blockHeaderBytes + 2] = 4;
        writeWord(status + blockHeaderBytes + 4, why);
        sink->sendBinary(status, sizeof status);
    };
    if (size < blockHeaderBytes) return answerStatus(0, malformed);
    const uint32_t frames = readWord(data);
    const uint32_t channels = readWord(data + 4);
    const uint32_t recordBytes = readWord(data + 8);
    const std::size_t channelBytes = sizeof(float) * blockSize;
    if (frames != blockSize || channels != layout.inputs || recordBytes % 4 != 0 ||
        recordBytes > size - blockHeaderBytes ||
        size - blockHeaderBytes - recordBytes != channels * channelBytes)
        return answerStatus(frames, malformed);

    for (std::size_t at = blockHeaderBytes; at < blockHeaderBytes + recordBytes;) {
        const uint16_t type = static_cast<uint16_t>(data[at] | data[at + 1] << 8);
        const uint16_t length = static_cast<uint16_t>(data[at + 2] | data[at + 3] << 8);
        const std::size_t body = at + 4;
        if (body + length > blockHeaderBytes + recordBytes) return answerStatus(frames, malformed);
        if (type == midiRecord && length >= 8) {
            const int32_t words[4] = {data[body + 4], data[body + 5], data[body + 6],
                                      static_cast<int32_t>(readWord(data + body) & 0x7FFFFFFF)};
            slot->queueMidi(words, 4);
        } else if (type == parameterRecord && length >= 12) {
            float value = 0.0f;
            const uint32_t bits = readWord(data + body + 8);
            std::memcpy(&value, &bits, sizeof value);
            // A value outside 0 to 1 (or no number) is no value a plug-in takes.
            if (value >= 0.0f && value <= 1.0f)
                slot->queueParameter(readWord(data + body) & 0x7FFFFFFF,
                                     static_cast<int32_t>(readWord(data + body + 4) & 0x7FFFFFFF),
                                     value);
        } else if (type == transportRecord && length >= transportBytes) {
            slot->queueTransport(readTransport(data + body));
        }
        at = body + ((length + 3u) & ~3u);
    }

    // Straight from the message into the plug-in's side, and from there
    // straight into the reply, behind room for the records it may carry:
    // no staging copy either way.
    const uint8_t* audio = data + blockHeaderBytes + recordBytes;
    for (uint32_t c = 0; c < layout.inputs; ++c)
        inputPointers[c] = reinterpret_cast<const float*>(audio + c * channelBytes);
    uint8_t* const replyAudio =
        blockReply.data() + MessageSink::headroomBytes + blockHeaderBytes + maxOutRecordBytes;
    for (uint32_t c = 0; c < layout.outputs; ++c)
        outputPointers[c] = reinterpret_cast<float*>(replyAudio + c * channelBytes);
    switch (slot->process(inputPointers.data(), outputPointers.data(), blockSize)) {
        case PluginSlot::Block::processed: {
            const bridge::MidiOut& out = slot->midiOut();
            const std::size_t records = outgoingBytes(out);
            uint8_t* const reply = replyAudio - records - blockHeaderBytes;
            writeWord(reply, blockSize);
            writeWord(reply + 4, layout.outputs);
            writeWord(reply + 8, static_cast<uint32_t>(records));
            writeWord(reply + 12, 0);
            writeOutgoing(out, reply + blockHeaderBytes, blockSize);
            sink->sendBinaryInPlace(reply, blockBytes(records));
            return;
        }
        case PluginSlot::Block::noPlugin:
            return answerStatus(frames, noPlugin);
        case PluginSlot::Block::bypassed:
            return answerStatus(frames, bypassed);
        case PluginSlot::Block::recovering:
            return answerStatus(frames, crashed);
        case PluginSlot::Block::loading:
        case PluginSlot::Block::notProcessed:
            return answerStatus(frames, loading);
    }
}

std::size_t Session::blockBytes(std::size_t records) const {
    return blockHeaderBytes + records + sizeof(float) * blockSize * layout.outputs;
}
