// Times the way back of a plug-in's own parameter changes: from the audio
// thread of the parameter test plug-in, in its plug-in process, through its
// event pump, the command pipe and the program, to a protocol 2 client's
// `parameter` event.
//
// Each block carries a note-on of key 100 on frame 0, on which the plug-in,
// at the start of that block, touches its Gain, moves it to 0.2, 0.4 and 0.6
// and lets go (audioMasterAutomate from its audio thread). So its call lies
// between the client's send of the block and the arrival of the block's
// reply, and the time from the call to the client's receipt of the value
// event lies between (event - reply) and (event - send), both printed, as is
// the round trip itself. One block in flight: the next leaves once the reply
// and the block's last event (the let-go) are in. Prints one table row:
// label, blocks, then in µs the round trip's p50 / p99, and p50 / p99 / max
// of reply → event and of send → event.
//
//   corvel-bench-events --port P --plugin PATH [--label TEXT] [--frames N]
//                       [--blocks N] [--warmup N] [--connect-ms N]
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchSocket.h"
#include "BlockPattern.h"
#include "RoundTripStats.h"
#include "Version2Client.h"

namespace {

using Clock = std::chrono::steady_clock;

// What the plug-in moves its Gain to, last, on key 100.
constexpr float movedGain = 0.6f;
constexpr uint8_t movingKey = 100;

struct Options {
    uint16_t port = 0;
    std::string plugin;
    std::string label = "-";
    uint32_t frames = 128;
    int blocks = 2000;
    int warmup = 50;
    int connectMs = 20000;
};

struct Samples {
    std::vector<int64_t> roundTripNs;   // send → reply
    std::vector<int64_t> afterReplyNs;  // reply → value event (negative: it came first)
    std::vector<int64_t> afterSendNs;   // send → value event
};

bool parseNumber(const char* text, long low, long high, long& into) {
    char* end = nullptr;
    into = std::strtol(text, &end, 10);
    return *text != '\0' && *end == '\0' && into >= low && into <= high;
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string word = argv[i];
        const char* value = argv[i + 1];
        long number = 0;
        if (word == "--plugin") options.plugin = value;
        else if (word == "--label") options.label = value;
        else if (word == "--port" && parseNumber(value, 1, 65535, number))
            options.port = static_cast<uint16_t>(number);
        else if (word == "--frames" && parseNumber(value, 1, 16384, number))
            options.frames = static_cast<uint32_t>(number);
        else if (word == "--blocks" && parseNumber(value, 1, 10000000, number))
            options.blocks = static_cast<int>(number);
        else if (word == "--warmup" && parseNumber(value, 0, 10000000, number))
            options.warmup = static_cast<int>(number);
        else if (word == "--connect-ms" && parseNumber(value, 0, 10000000, number))
            options.connectMs = static_cast<int>(number);
        else return false;
    }
    return argc % 2 == 1 && options.port != 0 && !options.plugin.empty();
}

// The number after `"field":` in a compact JSON text, or NaN.
double numberField(const std::string& text, const char* field) {
    const std::string key = std::string("\"") + field + "\":";
    const size_t at = text.find(key);
    return at == std::string::npos ? std::nan("")
                                   : std::strtod(text.c_str() + at + key.size(), nullptr);
}

class EventRun {
public:
    EventRun(BenchSocket& socket, uint32_t frames) : socket(socket), frames(frames) {
        const std::vector<uint8_t> channels = makeBlock(frames);
        std::vector<uint8_t> records;
        addMidiRecord(records, 0, 0x90, movingKey, 100);
        const std::vector<uint8_t> message = version2Block(channels, frames, records);
        frame = BenchSocket::makeFrame(2, message.data(), message.size());
        // The plug-in's output is its input times its Gain, moved before it plays.
        std::vector<float> samples(channels.size() / sizeof(float));
        std::memcpy(samples.data(), channels.data(), channels.size());
        for (float& sample : samples) sample *= movedGain;
        expected.resize(channels.size());
        std::memcpy(expected.data(), samples.data(), expected.size());
    }

    // One block and its events; adds its times to `into` when given.
    bool block(Samples* into) {
        const Clock::time_point sent = Clock::now();
        if (!socket.send(frame)) return fail("connection lost");
        Clock::time_point replied{}, valued{};
        bool hasReply = false, hasValue = false, letGo = false;
        while (!hasReply || !letGo) {
            int opcode = 0;
            if (!socket.receive(opcode)) return fail("connection lost or nothing for 10 s");
            const Clock::time_point now = Clock::now();
            if (opcode == 2) {
                const uint8_t* channels =
                    version2Channels(socket.payload(), socket.payloadSize(), frames);
                if (hasReply || !channels ||
                    socket.payloadSize() != version2HeaderBytes + expected.size() ||
                    std::memcmp(channels, expected.data(), expected.size()) != 0)
                    return fail("a reply that is not the input times the moved gain");
                replied = now;
                hasReply = true;
                continue;
            }
            const std::string text = socket.payloadText();
            if (text.find("\"event\":\"parameter\"") == std::string::npos) continue;
            if (text.find("\"gesture\":\"end\"") != std::string::npos) {
                letGo = true;
            } else if (text.find("\"gesture\"") == std::string::npos) {
                // One value per block: the plug-in's three moves, merged to the last.
                if (hasValue || static_cast<float>(numberField(text, "value")) != movedGain ||
                    numberField(text, "index") != 0)
                    return fail("an unexpected value event: " + text);
                valued = now;
                hasValue = true;
            }
        }
        if (!hasValue) return fail("the let-go came without a value event");
        if (into) {
            into->roundTripNs.push_back((replied - sent).count());
            into->afterReplyNs.push_back((valued - replied).count());
            into->afterSendNs.push_back((valued - sent).count());
        }
        return true;
    }

private:
    static bool fail(const std::string& why) {
        std::fprintf(stderr, "parameter events: %s\n", why.c_str());
        return false;
    }

    BenchSocket& socket;
    uint32_t frames;
    std::vector<uint8_t> frame;
    std::vector<uint8_t> expected;
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: corvel-bench-events --port P --plugin PATH [--label TEXT] "
                             "[--frames N] [--blocks N] [--warmup N] [--connect-ms N]\n");
        return 2;
    }
    BenchSocket socket;
    if (!socket.connect(options.port, options.connectMs, false, version2Subprotocol)) {
        std::fprintf(stderr, "cannot connect to 127.0.0.1:%u over protocol 2\n", options.port);
        return 1;
    }
    int id = 1;
    if (!version2Request(socket, id++,
                         "\"op\":\"configure\",\"sampleRate\":48000,\"blockSize\":" +
                             std::to_string(options.frames)) ||
        !version2Request(socket, id++, "\"op\":\"load\",\"path\":" + jsonString(options.plugin))) {
        std::fprintf(stderr, "the plug-in did not load: %s\n", options.plugin.c_str());
        return 1;
    }
    EventRun run(socket, options.frames);
    for (int i = 0; i < options.warmup; ++i)
        if (!run.block(nullptr)) return 1;
    Samples samples;
    for (int i = 0; i < options.blocks; ++i)
        if (!run.block(&samples)) return 1;

    const RoundTripStats trip = summarize(samples.roundTripNs);
    const RoundTripStats afterReply = summarize(samples.afterReplyNs);
    const RoundTripStats afterSend = summarize(samples.afterSendNs);
    std::printf("| %s | %d | %.1f / %.1f | %.1f / %.1f / %.1f | %.1f / %.1f / %.1f |\n",
                options.label.c_str(), options.blocks, trip.medianUs, trip.p99Us,
                afterReply.medianUs, afterReply.p99Us, afterReply.maxUs, afterSend.medianUs,
                afterSend.p99Us, afterSend.maxUs);
    return 0;
}
