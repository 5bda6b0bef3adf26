// Many sessions at once: N clients, each with the gain plug-in loaded in a
// session of its own, stream 128-frame blocks at real-time pace for 48 kHz
// (one every 2.667 ms) for a while. A reply is late when it arrives after
// the next block is due. Prints one table row per N.
//
//   corvel-bench-sessions --port P --plugin PATH [--sessions 1,4,16,32] [--seconds 30]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchSocket.h"
#include "BlockPattern.h"
#include "RoundTripStats.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t frames = 128;
constexpr auto blockPeriod = std::chrono::nanoseconds(1000000000LL * frames / 48000);

struct SessionResult {
    std::vector<int64_t> samplesNs;
    int late = 0;
    bool failed = false;
};

bool awaitText(BenchSocket& socket, const std::string& expected) {
    for (int i = 0; i < 4; ++i) {
        int opcode = 0;
        if (!socket.receive(opcode)) return false;
        if (opcode == 1 && socket.payloadText() == expected) return true;
    }
    return false;
}

bool prepare(BenchSocket& socket, uint16_t port, const std::string& plugin) {
    return socket.connect(port, 20000) && socket.sendText("sampleRate 48000") &&
           socket.sendText("bufsize 128") && socket.sendText("load " + plugin) &&
           awaitText(socket, "ready");
}

void stream(BenchSocket& socket, Clock::time_point start, Clock::time_point end,
            SessionResult& result) {
    const std::vector<uint8_t> block = makeBlock(frames);
    const std::vector<uint8_t> frame = BenchSocket::makeFrame(2, block.data(), block.size());
    int opcode = 0;
    for (Clock::time_point due = start; due < end; due += blockPeriod) {
        std::this_thread::sleep_until(due);
        const Clock::time_point sent = Clock::now();
        if (!socket.send(frame)) {
            result.failed = true;
            return;
        }
        // Text replies (the latency after "ready") may still be queued.
        do {
            if (!socket.receive(opcode)) {
                result.failed = true;
                return;
            }
        } while (opcode != 2);
        const Clock::time_point received = Clock::now();
        if (socket.payloadSize() != block.size()) {
            result.failed = true;
            return;
        }
        result.samplesNs.push_back((received - sent).count());
        if (received > due + blockPeriod) ++result.late;
    }
}

std::vector<int> parseList(const std::string& text) {
    std::vector<int> values;
    std::istringstream words(text);
    for (std::string word; std::getline(words, word, ',');)
        values.push_back(std::atoi(word.c_str()));
    return values;
}

}  // namespace

int main(int argc, char** argv) {
    uint16_t port = 0;
    std::string plugin;
    std::vector<int> counts = {1, 4, 16, 32};
    int seconds = 30;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string word = argv[i];
        if (word == "--port") port = static_cast<uint16_t>(std::atoi(argv[i + 1]));
        else if (word == "--plugin") plugin = argv[i + 1];
        else if (word == "--sessions") counts = parseList(argv[i + 1]);
        else if (word == "--seconds") seconds = std::atoi(argv[i + 1]);
    }
    if (!port || plugin.empty() || seconds < 1) {
        std::fprintf(stderr,
                     "usage: %s --port P --plugin PATH [--sessions 1,4,16,32] [--seconds 30]\n",
                     argv[0]);
        return 2;
    }
    std::printf("Sessions streaming 128-frame blocks at 48 kHz pace for %d s each\n\n", seconds);
    std::printf("| sessions | median µs (worst session) | p99 µs (worst session) | max µs "
                "| late replies | blocks |\n|---:|---:|---:|---:|---:|---:|\n");
    std::fflush(stdout);
    bool failed = false;
    for (const int count : counts) {
        std::vector<std::unique_ptr<BenchSocket>> sockets;
        for (int i = 0; i < count; ++i) {
            sockets.push_back(std::make_unique<BenchSocket>());
            if (!prepare(*sockets.back(), port, plugin)) {
                std::fprintf(stderr, "session %d of %d could not load %s\n", i + 1, count,
                             plugin.c_str());
                return 1;
            }
        }
        std::vector<SessionResult> results(static_cast<size_t>(count));
        const Clock::time_point start = Clock::now() + std::chrono::milliseconds(200);
        const Clock::time_point end = start + std::chrono::seconds(seconds);
        std::vector<std::thread> threads;
        for (int i = 0; i < count; ++i) {
            // Staggered over one period, as tracks of a workstation are not in step.
            const auto offset = blockPeriod * i / count;
            threads.emplace_back(stream, std::ref(*sockets[i]), start + offset, end,
                                 std::ref(results[i]));
        }
        for (auto& thread : threads) thread.join();
        double worstMedian = 0, worstP99 = 0, worstMax = 0;
        int late = 0;
        size_t blocks = 0;
        for (auto& result : results) {
            failed = failed || result.failed;
            blocks += result.samplesNs.size();
            late += result.late;
            const RoundTripStats stats = summarize(result.samplesNs);
            worstMedian = std::max(worstMedian, stats.medianUs);
            worstP99 = std::max(worstP99, stats.p99Us);
            worstMax = std::max(worstMax, stats.maxUs);
        }
        std::printf("| %d | %.1f | %.1f | %.1f | %d | %zu |\n", count, worstMedian, worstP99,
                    worstMax, late, blocks);
        std::fflush(stdout);
    }
    if (failed) std::fprintf(stderr, "a session lost its connection or got a wrong reply\n");
    return failed ? 1 : 0;
}
