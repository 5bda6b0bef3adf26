#include "PluginCheck.h"

#include <dirent.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <thread>

#include "X11WindowProbe.h"

namespace compat {

namespace {

constexpr double audibleLevel = 1e-3;  // -60 dBFS
// Every editor frame, whatever plug-in it is titled after.
const std::string frameTitle = "Corvel VST/Remote - ";

double rms(const std::vector<float>& samples, std::size_t from, std::size_t count) {
    double sum = 0;
    for (std::size_t i = from; i < from + count; ++i) sum += double(samples[i]) * samples[i];
    return count ? std::sqrt(sum / double(count)) : 0.0;
}

// Levels of the left and right halves of the last `count` replies.
std::pair<double, double> levels(const std::vector<std::vector<float>>& replies, std::size_t count) {
    double left = 0, right = 0;
    for (std::size_t b = replies.size() - count; b < replies.size(); ++b) {
        const std::size_t half = replies[b].size() / 2;
        left = std::max(left, rms(replies[b], 0, half));
        right = std::max(right, rms(replies[b], half, half));
    }
    return {left, right};
}

std::vector<float> sine(uint32_t frames, uint32_t block) {
    std::vector<float> samples(2 * frames);
    for (uint32_t i = 0; i < frames; ++i)
        samples[i] = samples[frames + i] = 0.25f * float(std::sin(2 * M_PI * 440 * (block * frames + i) / 48000.0));
    return samples;
}

bool heard(double level) {
    return level > audibleLevel;
}

std::string judgeLevels(double left, double right, const std::string& want) {
    const bool ok = want == "no" ? !heard(left) && !heard(right)
                  : want == "left" ? heard(left) && !heard(right)
                                   : heard(left) && heard(right);
    const std::string got = std::to_string(left).substr(0, 6) + " / " + std::to_string(right).substr(0, 6);
    return ok ? "" : "level " + got + " where " + (want == "yes" ? "both sides" : want == "left" ? "the left side" : "silence") + " was expected";
}

Outcome verdict(const std::string& why, const std::string& detail = "") {
    return why.empty() ? Outcome{"ok", detail} : Outcome{"fails", why};
}

}  // namespace

PluginCheck::PluginCheck(testing_support::ProgramUnderTest& program, testing_support::WsClient& client,
                         const std::string& path, const Expectation& expectation)
    : path(path), expectation(expectation), program(program), client(client) {}

std::string PluginCheck::text(int timeoutMs) {
    auto message = client.receiveText(timeoutMs);
    return message ? *message : "(nothing)";
}

bool PluginCheck::play(const std::vector<Block>& blocks, std::vector<Block>& replies, std::string& why) {
    for (const Block& block : blocks) {
        client.sendBinary(block);
        // Generous: on a loaded machine a heavy editor can hold the program up.
        auto reply = client.receiveBinary(60000);
        replies.push_back(reply ? testing_support::floatsOf(*reply) : Block{});
        if (replies.back().size() != block.size()) {
            why = "block " + std::to_string(replies.size()) + " came back with " +
                  std::to_string(replies.back().size()) + " samples";
            return false;
        }
        for (float sample : replies.back())
            if (!std::isfinite(sample)) {
                why = "block " + std::to_string(replies.size()) + " holds a sample that is not finite";
                return false;
            }
    }
    return true;
}

std::map<std::string, Outcome> PluginCheck::run() {
    std::map<std::string, Outcome> results;
    client.sendText("sampleRate 48000");
    client.sendText("bufsize 256");
    threadsBefore = countIn("task");
    filesBefore = countIn("fd");
    results["load"] = load();
    if (results["load"].status != "ok") return results;
    // The editor first: the load opened it, and it stays open while audio runs.
    results["editor"] = editor();
    results["audio"] = audio();
    if (expectation.kind == "instrument") results["midi"] = midi();
    results["settings"] = settings();
    results["state"] = state();
    results["unload"] = unload();
    if (!program.running()) results["unload"] = {"fails", "the program ended"};
    return results;
}

Outcome PluginCheck::load() {
    client.sendText("load " + path);
    // The block size set before the load is answered "ready" too while an
    // earlier unload is still under way: the load's own answer is the
    // "ready" right before the latency.
    std::string ready, latency;
    for (int read = 0; read < 4 && latency.rfind("fixedCompensationDelaySamp\n", 0) != 0; ++read) {
        ready = latency;
        latency = text(60000);
        if (latency == "(nothing)") break;
    }
    if (ready != "ready" || latency.rfind("fixedCompensationDelaySamp\n", 0) != 0) return {"fails", "refused"};
    return {"ok", "latency " + latency.substr(latency.find('\n') + 1)};
}

Outcome PluginCheck::audio() {
    // Silence while it settles, an impulse, silence for its tail, then a sine.
    const int settle = expectation.settleBlocks, tailBlocks = 16;
    std::vector<Block> blocks(settle + 1 + tailBlocks, Block(2 * frames, 0.0f));
    blocks[settle][0] = blocks[settle][frames] = 1.0f;
    for (int i = 0; i < settle + 4; ++i) blocks.push_back(sine(frames, i));
    std::vector<Block> replies;
    std::string why;
    if (!play(blocks, replies, why)) return {"fails", why};
    const std::string& kind = expectation.kind;
    const auto [left, right] = levels(replies, 4);
    if (kind == "instrument") {
        // No notes: the output is the input mixed under silence.
        for (std::size_t i = 0; i < replies.back().size(); ++i)
            if (std::fabs(replies.back()[i] - blocks.back()[i]) > 1e-3f)
                return verdict(expectation.audible == "no" ? "" : "sounds without a note");
        return verdict("");
    }
    if (kind == "passthrough") {
        for (std::size_t i = 0; i < replies.back().size(); ++i)
            if (std::fabs(replies.back()[i] - blocks.back()[i]) > 1e-3f) return verdict("changes what it passes");
        return verdict("");
    }
    if (kind == "reverb") {
        float peak = 0;
        for (int b = settle + 1; b <= settle + tailBlocks; ++b)
            for (float sample : replies[b]) peak = std::max(peak, std::fabs(sample));
        if (peak < 1e-4f) return verdict("no tail after an impulse");
    }
    return verdict(judgeLevels(left, right, expectation.audible));
}

Outcome PluginCheck::midi() {
    client.sendText("midi 144 60 100|");
    std::vector<Block> replies;
    std::string why;
    if (!play(std::vector<Block>(expectation.settleBlocks, Block(2 * frames, 0.0f)), replies, why))
        return {"fails", why};
    const auto [left, right] = levels(replies, 2);
    if (const std::string bad = judgeLevels(left, right, "yes"); !bad.empty()) return {"fails", "a note: " + bad};
    client.sendText("midi 128 60 0|");
    replies.clear();
    if (!play(std::vector<Block>(100, Block(2 * frames, 0.0f)), replies, why)) return {"fails", why};
    const auto [afterLeft, afterRight] = levels(replies, 1);
    return verdict(afterLeft + afterRight < left + right ? "" : "no decay after the note-off");
}

Outcome PluginCheck::settings() {
    for (const char* change : {"bufsize 1024", "sampleRate 44100", "bufsize 64"}) {
        client.sendText(change);
        if (change[0] == 'b') {
            if (text() != "ready") return {"fails", std::string("no \"ready\" after ") + change};
            frames = uint32_t(std::stoul(change + 8));
        }
        std::vector<Block> replies;
        std::string why;
        if (!play({sine(frames, 0), sine(frames, 1), sine(frames, 2)}, replies, why))
            return {"fails", std::string("after ") + change + ": " + why};
    }
    return {"ok", ""};
}

Outcome PluginCheck::state() {
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
        return {"fails", "the state read back differs (" + std::to_string(saved->size()) + " then " +
                             std::to_string(again ? again->size() : 0) + " bytes)"};
    return {"ok", std::to_string(saved->size()) + " bytes"};
}

Outcome PluginCheck::editor() {
    testing_support::X11WindowProbe screen;
    screen.onlyProcess(program.processId());
    auto frame = screen.windowsTitled(frameTitle);
    if (frame.size() != 1 || !frame[0].mapped) return {"fails", "no frame is shown"};
    // A plug-in without an editor gets an empty frame.
    if (frame[0].contentChildren == 0) return {"none", "none"};
    const std::string size = std::to_string(frame[0].contentWidth) + "x" + std::to_string(frame[0].contentHeight);
    screen.requestClose(frame[0].id);
    // Heavy editors on a loaded machine take seconds to close and to open.
    constexpr int editorWaitMs = 20000;
    if (!screen.waitFor(frameTitle, [](const auto& windows) { return windows.empty(); }, editorWaitMs))
        return {"fails", "the frame did not close"};
    client.sendText("showGui");
    if (!screen.waitFor(frameTitle, [](const auto& windows) { return windows.size() == 1 && windows[0].mapped; }, editorWaitMs))
        return {"fails", "showGui did not bring it back"};
    return {"ok", size};
}

int PluginCheck::countIn(const std::string& folder) {
    int count = 0;
    if (DIR* dir = opendir(("/proc/" + std::to_string(program.processId()) + "/" + folder).c_str())) {
        while (readdir(dir)) ++count;
        closedir(dir);
    }
    return count;
}

bool PluginCheck::moduleMapped() {
    std::ifstream maps("/proc/" + std::to_string(program.processId()) + "/maps");
    for (std::string line; std::getline(maps, line);)
        if (line.size() >= path.size() && line.compare(line.size() - path.size(), path.size(), path) == 0) return true;
    return false;
}

Outcome PluginCheck::unload() {
    client.sendText("unload");
    client.sendText("resume");  // answered once the unload is done
    text();
    // The module goes on the GUI thread; give a loaded machine time.
    for (int wait = 0; wait < 50 && moduleMapped(); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (moduleMapped()) return {"fails", "the module stays mapped after unload"};
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const int moreThreads = countIn("task") - threadsBefore, moreFiles = countIn("fd") - filesBefore;
    if (moreThreads > 0 || moreFiles > 0)
        return {"fails", "it keeps " + std::to_string(moreThreads) + " threads and " +
                             std::to_string(moreFiles) + " open files after unload"};
    return {"ok", ""};
}

}  // namespace compat
