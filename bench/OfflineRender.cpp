// Renders a stretch of stereo audio offline through a plug-in, as a
// workstation's export does: the session configured offline, blocks sent as
// fast as the program takes them with several in flight, the replies read in
// order and every one checked. Prints one table row: label, cores (a label
// too: run.sh places the processes), frames per block,
// blocks in flight, blocks, seconds of audio, wall time, times real time, and
// heap allocations per block in the server's processes when it counts them.
//
// Every block is built before the clock starts, so the time is the
// program's and the plug-in's, not the client's making of its input.
//
//   corvel-bench-render --port P --plugin PATH [--label TEXT] [--cores TEXT] [--seconds S]
//                       [--frames N] [--in-flight N] [--expect half|any]
//                       [--counters FILE] [--require-no-new] [--connect-ms N]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchSocket.h"
#include "CounterFile.h"
#include "Version2Client.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double sampleRate = 48000.0;

struct Options {
    uint16_t port = 0;
    std::string plugin;
    std::string label = "-";
    std::string cores = "-";
    std::string countersPath;
    double seconds = 60;
    uint32_t frames = 1024;
    // As the JavaScript client's render(). With the client and the program
    // on cores of their own, 1 in flight rendered at 130 times real time, 4
    // at 680, 8 at 860, 16 and 32 within the noise of 8; on one core the
    // number made no difference (medians of 11 on the development machine).
    int inFlight = 8;
    bool half = true;  // the gain test plug-in; any: only finite and not all silent
    bool requireNoNew = false;
    int connectMs = 20000;
};

bool parseNumber(const char* text, double low, double high, double& into) {
    char* end = nullptr;
    into = std::strtod(text, &end);
    return *text != '\0' && *end == '\0' && into >= low && into <= high;
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--require-no-new") {
            options.requireNoNew = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        double number = 0;
        if (word == "--plugin") options.plugin = value;
        else if (word == "--label") options.label = value;
        else if (word == "--cores") options.cores = value;
        else if (word == "--counters") options.countersPath = value;
        else if (word == "--expect" &&
                 (std::strcmp(value, "half") == 0 || std::strcmp(value, "any") == 0))
            options.half = std::strcmp(value, "half") == 0;
        else if (word == "--port" && parseNumber(value, 1, 65535, number))
            options.port = static_cast<uint16_t>(number);
        else if (word == "--seconds" && parseNumber(value, 0.001, 36000, number))
            options.seconds = number;
        else if (word == "--frames" && parseNumber(value, 1, 16384, number))
            options.frames = static_cast<uint32_t>(number);
        else if (word == "--in-flight" && parseNumber(value, 1, 64, number))
            options.inFlight = static_cast<int>(number);
        else if (word == "--connect-ms" && parseNumber(value, 0, 10000000, number))
            options.connectMs = static_cast<int>(number);
        else return false;
    }
    return options.port != 0 && !options.plugin.empty();
}

// Block `index` of a 440 Hz sine on the left and 660 Hz on the right at
// half scale, planar, as the stretch's input.
std::vector<float> inputOf(uint64_t index, uint32_t frames) {
    std::vector<float> samples(2 * static_cast<size_t>(frames));
    for (uint32_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(index * frames + i) / sampleRate;
        samples[i] = static_cast<float>(0.5 * std::sin(2 * M_PI * 440 * t));
        samples[frames + i] = static_cast<float>(0.5 * std::sin(2 * M_PI * 660 * t));
    }
    return samples;
}

class Render {
public:
    Render(BenchSocket& socket, const Options& options) : socket(socket), options(options) {
        const auto blocks = static_cast<uint64_t>(
            std::ceil(options.seconds * sampleRate / static_cast<double>(options.frames)));
        frames.reserve(blocks);
        expected.reserve(options.half ? blocks : 0);
        for (uint64_t b = 0; b < blocks; ++b) {
            std::vector<float> input = inputOf(b, options.frames);
            std::vector<uint8_t> channels(input.size() * sizeof(float));
            std::memcpy(channels.data(), input.data(), channels.size());
            const std::vector<uint8_t> message = version2Block(channels, options.frames);
            frames.push_back(BenchSocket::makeFrame(2, message.data(), message.size()));
            if (!options.half) continue;
            for (float& sample : input) sample *= 0.5f;
            expected.push_back(std::move(input));
        }
    }

    size_t blocks() const { return frames.size(); }

    // Sends every block with up to options.inFlight unanswered and checks
    // each reply as it comes; the wall time from the first send to the
    // last reply in `elapsed`.
    bool run(Clock::duration& elapsed) {
        size_t sent = 0, answered = 0;
        const Clock::time_point start = Clock::now();
        while (answered < frames.size()) {
            while (sent < frames.size() && sent - answered < static_cast<size_t>(options.inFlight))
                if (!socket.send(frames[sent++])) return fail("connection lost");
            if (!check(answered++)) return false;
        }
        elapsed = Clock::now() - start;
        if (!options.half && peak == 0.0f) return fail("every reply was silent");
        return true;
    }

private:
    bool check(size_t index) {
        int opcode = 0;
        do {  // past events
            if (!socket.receive(opcode)) return fail("connection lost or nothing for 10 s");
        } while (opcode != 2);
        const uint8_t* channels =
            version2Channels(socket.payload(), socket.payloadSize(), options.frames);
        const size_t bytes = 2 * sizeof(float) * options.frames;
        if (!channels || socket.payloadSize() != version2HeaderBytes + bytes)
            return fail("reply " + std::to_string(index) + " is no block of two channels");
        if (options.half)
            return std::memcmp(channels, expected[index].data(), bytes) == 0 ||
                   fail("reply " + std::to_string(index) + " is not its block times 0.5");
        for (size_t i = 0; i < 2 * options.frames; ++i) {
            float sample;
            std::memcpy(&sample, channels + i * sizeof sample, sizeof sample);
            if (!std::isfinite(sample))
                return fail("reply " + std::to_string(index) + " holds a sample not finite");
            peak = std::max(peak, std::fabs(sample));
        }
        return true;
    }

    static bool fail(const std::string& why) {
        std::fprintf(stderr, "offline render: %s\n", why.c_str());
        return false;
    }

    BenchSocket& socket;
    const Options& options;
    std::vector<std::vector<uint8_t>> frames;
    std::vector<std::vector<float>> expected;
    float peak = 0.0f;
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fprintf(
            stderr,
            "usage: corvel-bench-render --port P --plugin PATH [--label TEXT] [--cores TEXT] "
            "[--seconds S] [--frames N] [--in-flight N] [--expect half|any]\n"
            "       [--counters FILE] [--require-no-new] [--connect-ms N]\n");
        return 2;
    }
    BenchSocket socket;
    if (!socket.connect(options.port, options.connectMs, false, version2Subprotocol)) {
        std::fprintf(stderr, "cannot connect to 127.0.0.1:%u over protocol 2\n", options.port);
        return 1;
    }
    CounterFile counters;
    if (!options.countersPath.empty() && !counters.open(options.countersPath)) {
        std::fprintf(stderr, "no allocation counters in %s\n", options.countersPath.c_str());
        return 1;
    }
    int id = 1;
    if (!version2Request(socket, id++,
                         "\"op\":\"configure\",\"sampleRate\":48000,\"offline\":true,"
                         "\"blockSize\":" +
                             std::to_string(options.frames)) ||
        !version2Request(socket, id++, "\"op\":\"load\",\"path\":" + jsonString(options.plugin))) {
        std::fprintf(stderr, "the plug-in did not load offline: %s\n", options.plugin.c_str());
        return 1;
    }
    Render render(socket, options);
    const uint64_t newBefore = counters.isOpen() ? counters.newCalls() : 0;
    const uint64_t mallocBefore = counters.isOpen() ? counters.mallocCalls() : 0;
    Clock::duration elapsed{};
    if (!render.run(elapsed)) return 1;

    const double blocks = static_cast<double>(render.blocks());
    const double audioSeconds = blocks * options.frames / sampleRate;
    const double wallSeconds = std::chrono::duration<double>(elapsed).count();
    char perBlock[2][32] = {"-", "-"};
    if (counters.isOpen()) {
        std::snprintf(perBlock[0], sizeof perBlock[0], "%.2f",
                      static_cast<double>(counters.newCalls() - newBefore) / blocks);
        std::snprintf(perBlock[1], sizeof perBlock[1], "%.2f",
                      static_cast<double>(counters.mallocCalls() - mallocBefore) / blocks);
    }
    std::printf("| %s | %s | %u | %d | %zu | %.1f | %.1f | %.0f | %s | %s |\n",
                options.label.c_str(), options.cores.c_str(), options.frames, options.inFlight,
                render.blocks(), audioSeconds, wallSeconds * 1000, audioSeconds / wallSeconds,
                perBlock[0], perBlock[1]);
    if (options.requireNoNew && counters.isOpen() && counters.newCalls() != newBefore) {
        std::fprintf(stderr, "the host allocated with operator new while rendering\n");
        return 1;
    }
    return 0;
}
