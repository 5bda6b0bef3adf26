#include "PluginCheck.h"

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "X11WindowProbe.h"

namespace compat {

namespace {

using Block = std::vector<float>;

// Every editor frame, whatever plug-in it is titled after.
const std::string frameTitle = "Corvel VST/Remote - ";

// The louder block's level on each side, over the last `count` replies.
std::pair<double, double> levels(const std::vector<Block>& replies, std::size_t count) {
    double left = 0, right = 0;
    for (std::size_t b = replies.size() - count; b < replies.size(); ++b) {
        double sums[2] = {0, 0};
        const std::size_t half = replies[b].size() / 2;
        for (std::size_t i = 0; i < 2 * half; ++i)
            sums[i / half] += double(replies[b][i]) * replies[b][i];
        left = std::max(left, std::sqrt(sums[0] / double(half)));
        right = std::max(right, std::sqrt(sums[1] / double(half)));
    }
    return {left, right};
}

// Empty when both sides are above -60 dBFS, else why not.
std::string bothSidesHeard(std::pair<double, double> level) {
    if (level.first > 1e-3 && level.second > 1e-3) return "";
    return "level " + std::to_string(level.first).substr(0, 6) + " / " +
           std::to_string(level.second).substr(0, 6) + " where both sides should sound";
}

Block sine(uint32_t frames, uint32_t block) {
    Block samples(2 * frames);
    for (uint32_t i = 0; i < frames; ++i)
        samples[i] = samples[frames + i] =
            0.25f * float(std::sin(2 * M_PI * 440 * (block * frames + i) / 48000.0));
    return samples;
}

bool same(const Block& a, const Block& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](float x, float y) { return std::fabs(x - y) <= 1e-3f; });
}

Outcome verdict(const std::string& why, const std::string& detail = "") {
    return why.empty() ? Outcome{"ok", detail} : Outcome{"fails", why};
}

// One plug-in's run, at the block size it has come to.
class PluginCheck {
public:
    PluginCheck(testing_support::ProgramUnderTest& program, testing_support::WsClient& client,
                const std::string& path, const std::string& kind)
        : path(path), kind(kind), program(program), client(client) {}

    std::map<std::string, Outcome> run() {
        std::map<std::string, Outcome> results;
        client.sendText("sampleRate 48000");
        client.sendText("bufsize 256");
        results["load"] = load();
        if (results["load"].status != "ok") return results;
        // The editor first: the load opened it, and it stays open while audio runs.
        results["editor"] = editor();
        results["audio"] = audio();
        if (kind == "instrument") results["midi"] = midi();
        results["settings"] = settings();
        results["state"] = state();
        results["unload"] = program.running() ? unload() : Outcome{"fails", "the program ended"};
        return results;
    }

private:
    std::string text() { return client.receiveText(60000).value_or("(nothing)"); }

    // Sends the blocks and collects the replies; says why when one is
    // missing, has the wrong size or is not finite.
    std::string play(const std::vector<Block>& blocks, std::vector<Block>& replies) {
        for (const Block& block : blocks) {
            client.sendBinary(block);
            // Generous: on a loaded machine a heavy editor can hold the program up.
            const Block& reply = replies.emplace_back(
                testing_support::floatsOf(client.receiveBinary(60000).value_or("")));
            const bool finite =
                std::all_of(reply.begin(), reply.end(), [](float s) { return std::isfinite(s); });
            if (reply.size() != block.size() || !finite)
                return "block " + std::to_string(replies.size()) + " came back with " +
                       std::to_string(reply.size()) + " samples, or not all finite";
        }
        return "";
    }

    Outcome load() {
        client.sendText("load " + path);
        // The block size set before the load is answered "ready" too while an
        // earlier unload is still under way: the load's own answer is the
        // "ready" right before the latency.
        std::string ready, latency;
        for (int read = 0; read < 4 && latency.rfind("fixedCompensationDelaySamp\n", 0) != 0;
             ++read) {
            ready = latency;
            if ((latency = text()) == "(nothing)") break;
        }
        if (ready != "ready" || latency.rfind("fixedCompensationDelaySamp\n", 0) != 0)
            return {"fails", "refused"};
        return {"ok", "latency " + latency.substr(latency.find('\n') + 1)};
    }

    Outcome audio() {
        // Silence while it settles, an impulse, silence for its tail, then a
        // sine as long as the silence: some fade in slowly when switched on.
        const int settle = 64, tailBlocks = 16;
        std::vector<Block> blocks(settle + 1 + tailBlocks, Block(2 * frames, 0.0f)), replies;
        blocks[settle][0] = blocks[settle][frames] = 1.0f;
        for (int i = 0; i < settle + 4; ++i) blocks.push_back(sine(frames, i));
        if (const std::string why = play(blocks, replies); !why.empty()) return {"fails", why};
        // An instrument without notes adds nothing to the input mixed under it.
        if (kind == "instrument")
            return verdict(same(replies.back(), blocks.back()) ? "" : "sounds without a note");
        if (kind == "passthrough")
            return verdict(same(replies.back(), blocks.back()) ? "" : "changes what it passes");
        float tail = 0;
        for (int b = settle + 1; b <= settle + tailBlocks; ++b)
            for (float sample : replies[b]) tail = std::max(tail, std::fabs(sample));
        if (kind == "reverb" && tail < 1e-4f) return verdict("no tail after an impulse");
        return verdict(bothSidesHeard(levels(replies, 4)));
    }

    Outcome midi() {
        client.sendText("midi 144 60 100|");
        std::vector<Block> replies;
        if (const std::string why = play(std::vector<Block>(8, Block(2 * frames, 0.0f)), replies);
            !why.empty())
            return {"fails", why};
        const auto [left, right] = levels(replies, 2);
        if (const std::string bad = bothSidesHeard({left, right}); !bad.empty())
            return {"fails", "a note: " + bad};
        client.sendText("midi 128 60 0|");
        if (const std::string why = play(std::vector<Block>(100, Block(2 * frames, 0.0f)), replies);
            !why.empty())
            return {"fails", why};
        const auto [afterLeft, afterRight] = levels(replies, 1);
        return verdict(afterLeft + afterRight < left + right ? "" : "no decay after the note-off");
    }

    Outcome settings() {
        for (const std::string change : {"bufsize 1024", "sampleRate 44100", "bufsize 64"}) {
            client.sendText(change);
            if (change[0] == 'b') {
                if (text() != "ready") return {"fails", "no \"ready\" after " + change};
                frames = uint32_t(std::stoul(change.substr(8)));
            }
            std::vector<Block> replies;
            const std::string why =
                play({sine(frames, 0), sine(frames, 1), sine(frames, 2)}, replies);
            if (!why.empty()) return {"fails", "after " + change + ": " + why};
        }
        return {"ok", ""};
    }

    Outcome state() {
        client.sendText("getState");
        const std::string reply = text();
        if (reply == "state failed") return {"none", "no chunks"};
        auto saved = client.receiveBinary(20000);
        if (reply != "state" || !saved) return {"fails", "getState answered " + reply};
        client.sendText("setState");
        client.sendBinary(*saved);
        client.sendText("resume");
        if (text() != "bypass\nfalse") return {"fails", "no answer to resume after setState"};
        client.sendText("getState");
        auto again = text() == "state" ? client.receiveBinary(20000) : std::nullopt;
        if (!again || *again != *saved)
            return {"fails", "the state read back differs (" + std::to_string(saved->size()) +
                                 " then " + std::to_string(again ? again->size() : 0) + " bytes)"};
        return {"ok", std::to_string(saved->size()) + " bytes"};
    }

    Outcome editor() {
        testing_support::X11WindowProbe screen;
        screen.onlyProcess(program.processId());
        auto frame = screen.windowsTitled(frameTitle);
        if (frame.size() != 1 || !frame[0].mapped) return {"fails", "no frame is shown"};
        // A plug-in without an editor gets an empty frame.
        if (frame[0].contentChildren == 0) return {"none", "none"};
        const std::string size =
            std::to_string(frame[0].contentWidth) + "x" + std::to_string(frame[0].contentHeight);
        screen.requestClose(frame[0].id);
        // Heavy editors on a loaded machine take seconds to close and to open.
        constexpr int editorWaitMs = 20000;
        if (!screen.waitFor(
                frameTitle, [](const auto& windows) { return windows.empty(); }, editorWaitMs))
            return {"fails", "the frame did not close"};
        client.sendText("showGui");
        const auto shown = [](const auto& windows) {
            return windows.size() == 1 && windows[0].mapped;
        };
        if (!screen.waitFor(frameTitle, shown, editorWaitMs))
            return {"fails", "showGui did not bring it back"};
        return {"ok", size};
    }

    // The program's child processes, ended or not: its plug-in processes.
    int childProcesses() {
        int count = 0;
        DIR* proc = opendir("/proc");
        while (dirent* entry = proc ? readdir(proc) : nullptr) {
            std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
            std::string line;
            std::getline(stat, line);
            // "PID (NAME) STATE PARENT ...": the name may hold spaces and parentheses.
            const auto close = line.rfind(')');
            count += close != std::string::npos &&
                     std::atol(line.c_str() + close + 4) == program.processId();
        }
        if (proc) closedir(proc);
        return count;
    }

    Outcome unload() {
        client.sendText("unload");
        client.sendText("resume");  // answered once the unload is done
        text();
        // Give a loaded machine time to end the plug-in process.
        for (int wait = 0; wait < 50 && childProcesses() > 0; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return verdict(childProcesses() > 0 ? "its plug-in process is still there after unload"
                                            : "");
    }

    std::string path;
    std::string kind;
    testing_support::ProgramUnderTest& program;
    testing_support::WsClient& client;
    uint32_t frames = 256;
};

}  // namespace

std::map<std::string, Outcome> checkPlugin(testing_support::ProgramUnderTest& program,
                                           testing_support::WsClient& client,
                                           const std::string& path, const std::string& kind) {
    return PluginCheck(program, client, path, kind).run();
}

}  // namespace compat
