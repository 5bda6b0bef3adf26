// Measures the round trip of audio blocks through servers that are already
// running: one block in flight at a time, each sent after the previous reply,
// as a real-time client does. Prints one table row per block size and server.
//
//   corvel-bench-client --target name=tcp,kind=tcp,port=O
//                       --target name=handoff,kind=handoff,file=F
//                       --target name=echo,kind=echo,port=P
//                       --target name=host,kind=host,port=Q,counters=FILE
//                       --target name=slow,kind=host,port=R,blocks=20,rounds=5
//                       --target name=host2,kind=host2,port=S (protocol 2)
//                       --target name=p16,kind=host2,port=S,plugin=P,records=16,base=host2
//                       --target name=o16,kind=host2,port=S,plugin=M,expect=levels,outputs=16
//                       [--plugin PATH] [--expect half|any] [--sizes 128,256,...]
//                       [--blocks N] [--rounds N] [--warmup N] [--connect-ms N]
//                       [--require-no-new]
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "BenchSocket.h"
#include "BenchTarget.h"
#include "BlockPattern.h"
#include "CounterFile.h"
#include "HandoffClient.h"
#include "RoundTripStats.h"
#include "Version2Client.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    std::vector<BenchTarget> targets;
    std::string plugin;
    Expectation hostExpectation = Expectation::half;
    std::vector<uint32_t> sizes = {128, 256, 512, 1024, 4096};
    // Short rounds, many of them: servers take turns often, so that a burst
    // of load on the machine falls on all of them alike.
    int blocks = 100;  // per round and server
    int rounds = 100;
    int warmup = 200;
    // Under callgrind a server takes long to start its threads.
    int connectMs = 20000;
    bool requireNoNew = false;
};

struct Server {
    BenchTarget target;
    BenchSocket socket;
    CounterFile counters;
    HandoffClient handoff;
    int nextRequestId = 1;  // protocol 2
};

struct Measurement {
    std::vector<int64_t> samplesNs;
    int64_t elapsedNs = 0;
    uint64_t newCalls = 0;
    uint64_t mallocCalls = 0;
    bool failed = false;
};

void usage() {
    std::fprintf(
        stderr,
        "usage: corvel-bench-client --target name=N,kind=tcp|echo|host,port=P"
        "[,counters=FILE][,blocks=N][,rounds=N] ...\n"
        "       [,plugin=PATH][,expect=same|half|levels|any][,records=N][,outputs=N]"
        "[,base=NAME] ...\n"
        "       [--target name=N,kind=handoff,file=F[,blocks=N][,rounds=N]]\n"
        "       [--plugin PATH] [--expect half|any] [--sizes 128,256,...]\n"
        "       [--blocks N] [--rounds N] [--warmup N] [--connect-ms N] [--require-no-new]\n");
}

bool parseCount(const char* text, int& into) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 0 || value > 10000000) return false;
    into = static_cast<int>(value);
    return true;
}

bool parseSizes(const std::string& text, std::vector<uint32_t>& into) {
    into.clear();
    std::istringstream words(text);
    for (std::string word; std::getline(words, word, ',');) {
        int frames = 0;
        if (!parseCount(word.c_str(), frames) || frames < 1 || frames > 16384) return false;
        into.push_back(static_cast<uint32_t>(frames));
    }
    return !into.empty();
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (word == "--require-no-new") {
            options.requireNoNew = true;
            continue;
        }
        if (!value) return false;
        ++i;
        if (word == "--target") {
            auto target = parseTarget(value);
            if (!target) return false;
            options.targets.push_back(*target);
        } else if (word == "--plugin") {
            options.plugin = value;
        } else if (word == "--expect") {
            if (std::strcmp(value, "half") == 0) options.hostExpectation = Expectation::half;
            else if (std::strcmp(value, "any") == 0) options.hostExpectation = Expectation::any;
            else return false;
        } else if (word == "--sizes") {
            if (!parseSizes(value, options.sizes)) return false;
        } else if (word == "--blocks") {
            if (!parseCount(value, options.blocks) || options.blocks < 1) return false;
        } else if (word == "--rounds") {
            if (!parseCount(value, options.rounds) || options.rounds < 1) return false;
        } else if (word == "--connect-ms") {
            if (!parseCount(value, options.connectMs)) return false;
        } else if (word == "--warmup") {
            if (!parseCount(value, options.warmup)) return false;

        } else {
            return false;
        }
    }
    bool needsPlugin = false;
    for (const auto& target : options.targets)
        needsPlugin = needsPlugin || (target.isHost && target.plugin.empty());
    return !options.targets.empty() && (!needsPlugin || !options.plugin.empty());
}

std::string loadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

bool receiveText(Server& server, std::string& text) {
    int opcode = 0;
    if (!server.socket.receive(opcode) || opcode != 1) return false;
    text = server.socket.payloadText();
    return true;
}

// Waits for `expected`, passing over other texts (the greeting).
bool awaitText(Server& server, const std::string& expected) {
    for (int i = 0; i < 4; ++i) {
        std::string text;
        if (!receiveText(server, text)) return false;
        if (text == expected) return true;
    }
    return false;
}

bool prepareHost(Server& server, const std::string& runPlugin) {
    const std::string& plugin = server.target.plugin.empty() ? runPlugin : server.target.plugin;
    if (server.target.speaksVersion2) {
        const std::string layout = ",\"outputs\":" + std::to_string(server.target.outputs);
        if (version2Request(server.socket, server.nextRequestId++,
                            "\"op\":\"configure\",\"sampleRate\":48000") &&
            version2Request(server.socket, server.nextRequestId++,
                            "\"op\":\"load\",\"path\":" + jsonString(plugin) + layout))
            return true;
        std::fprintf(stderr, "%s: the plug-in did not load: %s\n", server.target.name.c_str(),
                     plugin.c_str());
        return false;
    }
    std::string latency;
    if (!server.socket.sendText("sampleRate 48000") || !server.socket.sendText("load " + plugin) ||
        !awaitText(server, "ready") || !receiveText(server, latency) ||
        latency.rfind("fixedCompensationDelaySamp\n", 0) != 0) {
        std::fprintf(stderr, "%s: the plug-in did not load: %s\n", server.target.name.c_str(),
                     plugin.c_str());
        return false;
    }
    return true;
}

bool setBlockSize(Server& server, uint32_t frames) {
    if (!server.target.isHost) return true;
    if (server.target.speaksVersion2) {
        if (version2Request(server.socket, server.nextRequestId++,
                            "\"op\":\"configure\",\"blockSize\":" + std::to_string(frames)))
            return true;
        std::fprintf(stderr, "%s: configure refused %u frames\n", server.target.name.c_str(),
                     frames);
        return false;
    }
    if (server.socket.sendText("bufsize " + std::to_string(frames)) && awaitText(server, "ready"))
        return true;
    std::fprintf(stderr, "%s: no \"ready\" after bufsize %u\n", server.target.name.c_str(), frames);
    return false;
}

// `count` parameter changes spread evenly over a block, for the parameter
// test plug-in: every other one sets its Gain (0) to 0.5, the others move its
// Drive (3), which the sound does not depend on, each to a value of its own.
// Whatever pieces the block is cut into, the reply is then the input times
// 0.5, and every record is a change the plug-in is given.
std::vector<uint8_t> spreadChanges(int count, uint32_t frames) {
    std::vector<uint8_t> records;
    for (int i = 0; i < count; ++i) {
        const auto frame =
            static_cast<uint32_t>(static_cast<uint64_t>(i) * frames / static_cast<uint64_t>(count));
        if (i % 2 == 0) addParameterRecord(records, frame, 0, 0.5f);
        else
            addParameterRecord(records, frame, 3,
                               static_cast<float>(i) / static_cast<float>(count));
    }
    return records;
}

struct BlockSet {
    std::vector<uint8_t> block;
    std::vector<uint8_t> frame;  // as the server's protocol wants it
    uint32_t frames;
    std::size_t replyBytes;  // the reply's channels
    std::vector<uint8_t> expected;
    Expectation expectation;
};

// The hand-off floor times its hand-offs itself; its "blocks per second"
// are hand-offs per second of their own time.
bool runHandoffs(Server& server, int count, Measurement* into) {
    const size_t before = into ? into->samplesNs.size() : 0;
    if (!server.handoff.run(count, into ? &into->samplesNs : nullptr)) {
        std::fprintf(stderr, "%s: the hand-off floor does not answer\n",
                     server.target.name.c_str());
        return false;
    }
    if (into) {
        for (size_t i = before; i < into->samplesNs.size(); ++i)
            into->elapsedNs += into->samplesNs[i];
    }
    return true;
}

// Sends `count` blocks one after the other; records each round trip when
// `into` is given.
bool runBlocks(Server& server, const BlockSet& blocks, int count, Measurement* into) {
    if (server.target.isHandoff) return runHandoffs(server, count, into);
    const uint64_t newBefore = server.counters.newCalls();
    const uint64_t mallocBefore = server.counters.mallocCalls();
    const Clock::time_point batchStart = Clock::now();
    for (int i = 0; i < count; ++i) {
        const Clock::time_point sent = Clock::now();
        int opcode = 2;
        const bool answered =
            server.target.isRawTcp
                ? server.socket.sendRaw(blocks.block) &&
                      server.socket.receiveRaw(blocks.block.size())
                : server.socket.send(blocks.frame) && server.socket.receive(opcode);
        if (!answered) {
            std::fprintf(stderr, "%s: connection lost\n", server.target.name.c_str());
            return false;
        }
        const Clock::time_point received = Clock::now();
        const uint8_t* reply = server.socket.payload();
        size_t replySize = server.socket.payloadSize();
        if (server.target.speaksVersion2) {
            reply = version2Channels(reply, replySize, blocks.frames, server.target.outputs);
            replySize = reply ? replySize - version2HeaderBytes : 0;
        }
        if (opcode != 2 || !reply ||
            !replyMatches(reply, replySize, blocks.replyBytes, blocks.expected,
                          blocks.expectation)) {
            std::fprintf(stderr, "%s: wrong reply to a block of %zu bytes (%zu bytes back)\n",
                         server.target.name.c_str(), blocks.block.size(),
                         server.socket.payloadSize());
            return false;
        }
        if (into) into->samplesNs.push_back((received - sent).count());
    }
    if (into) {
        into->elapsedNs += (Clock::now() - batchStart).count();
        into->newCalls += server.counters.newCalls() - newBefore;
        into->mallocCalls += server.counters.mallocCalls() - mallocBefore;
    }
    return true;
}

std::string perBlock(const Server& server, uint64_t calls, size_t blocks) {
    if (!server.counters.isOpen() || blocks == 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f",
                  static_cast<double>(calls) / static_cast<double>(blocks));
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        usage();
        return 2;
    }
    std::vector<std::unique_ptr<Server>> servers;
    for (const auto& target : options.targets) {
        auto server = std::make_unique<Server>();
        server->target = target;
        if (target.isHandoff) {
            if (!server->handoff.open(target.handoffPath)) {
                std::fprintf(stderr, "%s: no hand-off floor in %s\n", target.name.c_str(),
                             target.handoffPath.c_str());
                return 1;
            }
            servers.push_back(std::move(server));
            continue;
        }
        if (!server->socket.connect(target.port, options.connectMs, target.isRawTcp,
                                    target.speaksVersion2 ? version2Subprotocol : "")) {
            std::fprintf(stderr, "%s: cannot connect to 127.0.0.1:%u\n", target.name.c_str(),
                         target.port);
            return 1;
        }
        const uint32_t largest = *std::max_element(options.sizes.begin(), options.sizes.end());
        server->socket.makeRoomFor(version2HeaderBytes + 65536 +
                                   sizeof(float) * largest * target.outputs);
        if (!target.countersPath.empty() && !server->counters.open(target.countersPath)) {
            std::fprintf(stderr, "%s: no allocation counters in %s\n", target.name.c_str(),
                         target.countersPath.c_str());
            return 1;
        }
        if (target.isHost && !prepareHost(*server, options.plugin)) return 1;
        servers.push_back(std::move(server));
    }

    std::printf("Round trips on 127.0.0.1, one block in flight; %d rounds of %d blocks per "
                "server and size (unless the server says otherwise), servers taking turns; "
                "load average %s\n\n",
                options.rounds, options.blocks, loadAverage().c_str());
    std::printf("| frames | server | median µs | p99 µs | max µs | p99/median | blocks/s "
                "| median/floor | median/floors | median/echo | median/base | p99/base "
                "| new/block | malloc/block |\n");
    std::printf("|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    std::fflush(stdout);

    bool allocationFree = true;
    for (const uint32_t frames : options.sizes) {
        const std::vector<uint8_t> block = makeBlock(frames);
        const std::vector<uint8_t> frame = BenchSocket::makeFrame(2, block.data(), block.size());
        std::vector<BlockSet> blockSets;
        for (const auto& server : servers) {
            const BenchTarget& target = server->target;
            const Expectation expectation =
                target.isHost ? target.expectation.value_or(options.hostExpectation)
                              : Expectation::same;
            const std::vector<uint8_t> message =
                version2Block(block, frames, spreadChanges(target.parameterRecords, frames));
            blockSets.push_back(
                {block,
                 target.speaksVersion2 ? BenchSocket::makeFrame(2, message.data(), message.size())
                                       : frame,
                 frames,
                 target.speaksVersion2 ? sizeof(float) * frames * target.outputs : block.size(),
                 expectedReply(block, expectation, target.outputs), expectation});
        }
        std::vector<Measurement> results(servers.size());
        for (size_t s = 0; s < servers.size(); ++s) {
            Server& server = *servers[s];
            const int perRound =
                server.target.blocksPerRound ? server.target.blocksPerRound : options.blocks;
            const int rounds = server.target.rounds ? std::min(server.target.rounds, options.rounds)
                                                    : options.rounds;
            results[s].samplesNs.reserve(static_cast<size_t>(perRound) * rounds);
            const int warmup = std::min(options.warmup, perRound);
            if (!setBlockSize(server, frames) || !runBlocks(server, blockSets[s], warmup, nullptr))
                return 1;
        }
        // Servers take turns, starting one later each round.
        for (int round = 0; round < options.rounds; ++round) {
            for (size_t turn = 0; turn < servers.size(); ++turn) {
                const size_t s = (turn + static_cast<size_t>(round)) % servers.size();
                Server& server = *servers[s];
                if (server.target.rounds && round >= server.target.rounds) continue;
                const int perRound =
                    server.target.blocksPerRound ? server.target.blocksPerRound : options.blocks;
                if (!runBlocks(server, blockSets[s], perRound, &results[s])) return 1;
            }
        }
        double echoMedian = 0;
        double floorMedian = 0;
        double handoffMedian = 0;
        std::vector<RoundTripStats> stats;
        for (size_t s = 0; s < servers.size(); ++s) {
            stats.push_back(summarize(results[s].samplesNs));
            const BenchTarget& target = servers[s]->target;
            if (target.isRawTcp && floorMedian == 0) floorMedian = stats.back().medianUs;
            if (target.isHandoff && handoffMedian == 0) handoffMedian = stats.back().medianUs;
            if (!target.isHost && !target.isRawTcp && !target.isHandoff && echoMedian == 0)
                echoMedian = stats.back().medianUs;
        }
        for (size_t s = 0; s < servers.size(); ++s) {
            const Server& server = *servers[s];
            const Measurement& result = results[s];
            const size_t count = result.samplesNs.size();
            const double perSecond = result.elapsedNs ? static_cast<double>(count) * 1e9 /
                                                            static_cast<double>(result.elapsedNs)
                                                      : 0;
            char ratio[32] = "-";
            if (echoMedian > 0)
                std::snprintf(ratio, sizeof ratio, "%.2f", stats[s].medianUs / echoMedian);
            char floorRatio[32] = "-";
            if (floorMedian > 0)
                std::snprintf(floorRatio, sizeof floorRatio, "%.2f",
                              stats[s].medianUs / floorMedian);
            // Against both floors at once: what a plug-in process cannot undercut.
            char floorsRatio[32] = "-";
            if (floorMedian > 0 && handoffMedian > 0)
                std::snprintf(floorsRatio, sizeof floorsRatio, "%.2f",
                              stats[s].medianUs / (floorMedian + handoffMedian));
            // Against the target it names as its base: the same server without what it adds.
            char baseMedian[32] = "-";
            char baseP99[32] = "-";
            for (size_t b = 0; b < servers.size(); ++b) {
                if (server.target.base.empty() || servers[b]->target.name != server.target.base)
                    continue;
                std::snprintf(baseMedian, sizeof baseMedian, "%.2f",
                              stats[s].medianUs / stats[b].medianUs);
                std::snprintf(baseP99, sizeof baseP99, "%.2f", stats[s].p99Us / stats[b].p99Us);
            }
            std::printf(
                "| %u | %s | %.1f | %.1f | %.1f | %.2f | %.0f | %s | %s | %s | %s | %s | %s | %s "
                "|\n",
                frames, server.target.name.c_str(), stats[s].medianUs, stats[s].p99Us,
                stats[s].maxUs, stats[s].p99Us / stats[s].medianUs, perSecond, floorRatio,
                floorsRatio, ratio, baseMedian, baseP99,
                perBlock(server, result.newCalls, count).c_str(),
                perBlock(server, result.mallocCalls, count).c_str());
            if (server.target.isHost && server.counters.isOpen() && result.newCalls > 0)
                allocationFree = false;
        }
        std::fflush(stdout);
    }
    std::printf("\nload average after: %s\n", loadAverage().c_str());
    if (options.requireNoNew && !allocationFree) {
        std::fprintf(stderr, "the host allocated with operator new while processing blocks\n");
        return 1;
    }
    return 0;
}
