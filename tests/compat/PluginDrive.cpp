#include "PluginDrive.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace compat {

namespace {

using testing_support::WindowInfo;
using Clock = std::chrono::steady_clock;

const std::string frameTitle = "Corvel VST/Remote";
const std::string latencyPrefix = "fixedCompensationDelaySamp\n";
constexpr float sineAmplitude = 0.25f;
constexpr double audible = 1e-3;  // -60 dBFS: anything a user would hear

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string db(double ratio) {
    return ratio > 0.0 ? fixed(decibels(ratio), 1) + " dB" : "silence";
}

std::string dbPair(double left, double right) {
    return db(left) + " / " + db(right);
}

std::string signedText(long value) {
    return (value >= 0 ? "+" : "") + std::to_string(value);
}

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool isInstrument(const Expectation& expectation) {
    return expectation.kind == "instrument";
}

bool takesSilence(const Expectation& expectation) {
    return expectation.kind == "instrument" || expectation.kind == "generator";
}

}  // namespace

PluginDrive::PluginDrive(HostSession& session, const CatalogEntry& entry,
                         const Expectation& expectation, PluginResult& result)
    : session(session), entry(entry), expectation(expectation), result(result) {
    editorExpected = expectation.expected(Aspect::editor) != Status::none;
}

void PluginDrive::set(Aspect aspect, Status status, const std::string& detail) {
    result[aspect].status = status;
    result[aspect].detail = detail;
    result[aspect].cause.clear();
}

void PluginDrive::run() {
    const auto timed = [this](Aspect aspect, auto step) {
        const auto started = Clock::now();
        step();
        result.milliseconds[static_cast<std::size_t>(aspect)] = static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count());
    };
    bool loaded = false;
    timed(Aspect::load, [&] { loaded = load(); });
    if (!loaded) return;
    timed(Aspect::audio, [&] { checkAudio(); });
    if (expectation.expected(Aspect::midi) != Status::none) timed(Aspect::midi, [&] { checkMidi(); });
    timed(Aspect::settings, [&] { checkSettings(); });
    timed(Aspect::state, [&] { checkState(); });
    timed(Aspect::editor, [&] { checkEditor(); });
    timed(Aspect::unload, [&] { checkUnload(); });
}

bool PluginDrive::load() {
    current = Aspect::load;
    const bool listed = session.listed(entry.path);
    const auto started = Clock::now();
    session.send("load " + entry.path);
    // A failed load has no reply; the state request behind it always has
    // one while a wrapper exists, so it tells the two apart at once.
    session.send("getState");
    const std::string first = session.receiveText(30000, "the reply to \"load\"");
    if (first == "state") {
        // A module refused for its channel count keeps its record, which
        // still answers for its state.
        session.receiveBinary(10000, "the state after a refused load");
    }
    if (first == "state failed" || first == "state") {
        set(Aspect::load, Status::fails,
            std::string("no \"ready\": the program refused the module") +
                (listed ? "" : "; not listed by \"scanVSTs\""));
        result[Aspect::load].cause = "refused";
        session.send("unload");
        return false;
    }
    if (first != "ready") throw SessionBroken("\"load\" was answered \"" + first + "\"");
    const std::string second = session.receiveText(10000, "the latency");
    if (second.rfind(latencyPrefix, 0) != 0)
        throw SessionBroken("\"ready\" was followed by \"" + second + "\"");
    latency = std::atoi(second.c_str() + latencyPrefix.size());
    const long ms = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count());
    const std::string state = session.receiveText(10000, "the state after the load");
    if (state == "state") session.receiveBinary(10000, "the state after the load");
    else if (state != "state failed") throw SessionBroken("\"getState\" was answered \"" + state + "\"");
    if (!listed) {
        set(Aspect::load, Status::fails, "loads, but \"scanVSTs\" does not list it");
    } else {
        set(Aspect::load, Status::ok,
            "latency " + std::to_string(latency) + ", ready in " + std::to_string(ms) + " ms");
    }
    return true;
}

void PluginDrive::checkAudio() {
    current = Aspect::audio;
    const uint32_t frames = HostSession::blockFrames;
    const uint32_t rate = HostSession::sampleRate;
    const double hz = expectation.number("tone", 440.0);
    constexpr int blocks = 60;
    Recording impulse, sine, sineIn;
    int unprocessed = 0;
    for (int i = 0; i < blocks; ++i) {
        Block reply = session.roundTrip(i == 0 ? impulseBlock(frames, 0.5f) : silentBlock(frames));
        if (reply.size() != 2 * frames) {
            ++unprocessed;
            reply = silentBlock(frames);
        }
        impulse.append(reply);
    }
    SineSource source(hz, sineAmplitude, rate);
    for (int i = 0; i < blocks; ++i) {
        const Block in = source.next(frames);
        sineIn.append(in);
        Block reply = session.roundTrip(in);
        if (reply.size() != 2 * frames) {
            ++unprocessed;
            reply = silentBlock(frames);
        }
        sine.append(reply);
    }
    if (unprocessed > 0) {
        set(Aspect::audio, Status::fails,
            std::to_string(unprocessed) + " of " + std::to_string(2 * blocks) +
                " blocks were not processed");
        return;
    }
    if (!allFinite(impulse) || !allFinite(sine)) {
        set(Aspect::audio, Status::fails, "NaN or infinity in the output");
        return;
    }
    const std::size_t n = sine.frames();
    const double inRms = rms(sineIn.left, n / 2, n);
    const double outLeft = rms(sine.left, n / 2, n), outRight = rms(sine.right, n / 2, n);
    const std::string kind = expectation.kind;
    if (kind == "effect") {
        const double minGain = expectation.number("min-gain", -30.0);
        const double maxGain = expectation.number("max-gain", 12.0);
        const double share = toneShare(sine.left, n / 2, n, hz, rate);
        const double minShare = expectation.number("min-tone", 0.5);
        const std::string detail = "sine " + fixed(hz, 0) + " Hz: " +
                                   dbPair(outLeft / inRms, outRight / inRms) + ", " +
                                   fixed(100.0 * share, 0) + "% tone";
        const auto within = [&](double out) {
            const double gain = decibels(out / inRms);
            return gain >= minGain && gain <= maxGain;
        };
        const bool good = within(outLeft) && within(outRight) && share >= minShare;
        set(Aspect::audio, good ? Status::ok : Status::fails, detail);
        if (outLeft <= audible || outRight <= audible) result[Aspect::audio].cause = "silent";
    } else if (kind == "reverb") {
        const std::size_t from = rate / 10, to = 3 * rate / 10;  // 0.1 to 0.3 s after the impulse
        const double tailLeft = rms(impulse.left, from, to), tailRight = rms(impulse.right, from, to);
        const bool tail = tailLeft > 1e-4 && tailRight > 1e-4;
        const bool sounds = outLeft > audible && outRight > audible;
        set(Aspect::audio, tail && sounds ? Status::ok : Status::fails,
            "impulse tail at 0.1-0.3 s: " + dbPair(tailLeft / 0.5, tailRight / 0.5) +
                "; sine: " + dbPair(outLeft / inRms, outRight / inRms));
    } else if (kind == "passthrough") {
        const std::size_t delay = latency > 0 ? static_cast<std::size_t>(latency) : 0;
        const double difference = std::max(maxDifference(sine.left, sineIn.left, delay),
                                           maxDifference(sine.right, sineIn.right, delay));
        const bool same = difference <= 1e-4 && outLeft > audible && outRight > audible;
        set(Aspect::audio, same ? Status::ok : Status::fails,
            same ? "passes the sine through unchanged"
                 : "sine comes back changed (largest difference " + fixed(difference, 4) + ")");
    } else if (kind == "instrument") {
        // Blocks 10 on are silence in; only the first carried the impulse.
        const std::size_t from = 10 * frames;
        const double quietLeft = rms(impulse.left, from, impulse.frames());
        const double quietRight = rms(impulse.right, from, impulse.frames());
        const bool quiet = quietLeft < audible && quietRight < audible;
        set(Aspect::audio, quiet ? Status::ok : Status::fails,
            quiet ? "silent without notes" : "sounds without notes: " + dbPair(quietLeft, quietRight));
    } else if (kind == "generator") {
        const std::size_t from = 10 * frames;
        const double left = rms(impulse.left, from, impulse.frames());
        const double right = rms(impulse.right, from, impulse.frames());
        const bool sounds = left > audible && right > audible;
        set(Aspect::audio, sounds ? Status::ok : Status::fails,
            "from silence: " + dbPair(left, right));
    }
}

void PluginDrive::checkMidi() {
    current = Aspect::midi;
    const uint32_t frames = HostSession::blockFrames;
    Recording held, released;
    session.send("midi 144 60 100|");
    for (int i = 0; i < 40; ++i) held.append(session.roundTrip(silentBlock(frames)));
    session.send("midi 128 60 0|");
    for (int i = 0; i < 100; ++i) released.append(session.roundTrip(silentBlock(frames)));
    if (held.frames() != 40 * frames || released.frames() != 100 * frames) {
        set(Aspect::midi, Status::fails, "blocks were not processed");
        return;
    }
    if (!allFinite(held) || !allFinite(released)) {
        set(Aspect::midi, Status::fails, "NaN or infinity in the output");
        return;
    }
    const double onLeft = rms(held.left, frames, held.frames());
    const double onRight = rms(held.right, frames, held.frames());
    const std::size_t tail = released.frames() - 20 * frames;
    const double offLeft = rms(released.left, tail, released.frames());
    const double offRight = rms(released.right, tail, released.frames());
    const bool sounds = onLeft > audible && onRight > audible;
    const bool decays = offLeft < 0.1 * onLeft && offRight < 0.1 * onRight;
    set(Aspect::midi, sounds && decays ? Status::ok : Status::fails,
        "note on: " + dbPair(onLeft, onRight) + "; 0.4 s after note off: " + dbPair(offLeft, offRight));
    if (!sounds) result[Aspect::midi].cause = "silent";
}

bool PluginDrive::playAndCheck(uint32_t frames, uint32_t rate, int count, std::string& why) {
    // Counted in blocks of the usual size, whatever the size now.
    const int settle = static_cast<int>(expectation.number("settle-blocks", 0) *
                                        HostSession::blockFrames / frames);
    count = std::max(count, settle);
    const bool silenceIn = takesSilence(expectation);
    SineSource source(expectation.number("tone", 440.0), sineAmplitude, rate);
    Recording out;
    if (isInstrument(expectation)) session.send("midi 144 60 100|");
    for (int i = 0; i < count; ++i) {
        if (isInstrument(expectation) && i == count - 1) session.send("midi 128 60 0|");
        const Block reply = session.roundTrip(silenceIn ? silentBlock(frames) : source.next(frames));
        if (reply.size() != 2 * frames) {
            why = "a block of " + std::to_string(frames) + " frames came back with " +
                  std::to_string(reply.size() * sizeof(float)) + " bytes";
            return false;
        }
        out.append(reply);
    }
    if (!allFinite(out)) {
        why = "NaN or infinity at " + std::to_string(frames) + " frames, " + std::to_string(rate) + " Hz";
        return false;
    }
    // "no": silence is right for what it is fed; "left": only its left side sounds.
    const std::string sides = expectation.options.count("audible") ? expectation.options.at("audible") : "";
    if (sides == "no") return true;
    const std::size_t n = out.frames();
    const double left = rms(out.left, n / 2, n), right = rms(out.right, n / 2, n);
    if (left <= audible || (right <= audible && sides != "left")) {
        why = "silent (" + dbPair(left, right) + ") at " + std::to_string(frames) + " frames, " +
              std::to_string(rate) + " Hz";
        return false;
    }
    return true;
}

void PluginDrive::checkSettings() {
    current = Aspect::settings;
    std::string why;
    bool good = true;
    session.send("bufsize 1024");
    if (session.receiveText(10000, "the reply to \"bufsize 1024\"") != "ready")
        throw SessionBroken("\"bufsize 1024\" was not answered \"ready\"");
    good = playAndCheck(1024, HostSession::sampleRate, 12, why);
    if (good) {
        session.send("sampleRate 44100");
        good = playAndCheck(1024, 44100, 12, why);
    }
    if (good) {
        session.send("bufsize 64");
        if (session.receiveText(10000, "the reply to \"bufsize 64\"") != "ready")
            throw SessionBroken("\"bufsize 64\" was not answered \"ready\"");
        good = playAndCheck(64, 44100, 96, why);
    }
    session.send("sampleRate " + std::to_string(HostSession::sampleRate));
    session.send("bufsize " + std::to_string(HostSession::blockFrames));
    if (session.receiveText(10000, "the reply to \"bufsize\"") != "ready")
        throw SessionBroken("\"bufsize\" was not answered \"ready\"");
    set(Aspect::settings, good ? Status::ok : Status::fails,
        good ? "1024 frames, 44.1 kHz, 64 frames" : why);
}

bool PluginDrive::restoreAndRead(const std::string& chunk, std::string& readBack, std::string& why) {
    session.send("setState");
    session.sendBinary(chunk);
    const uint32_t frames = HostSession::blockFrames;
    if (!session.roundTrip(silentBlock(frames)).empty()) {
        why = "processed audio after \"setState\" before \"resume\"";
        return false;
    }
    session.expectAlive("after \"setState\"");
    if (!playAndCheck(frames, HostSession::sampleRate, 16, why)) {
        why = "after the restore: " + why;
        return false;
    }
    session.send("getState");
    if (session.receiveText(10000, "the state again") != "state") {
        why = "no state after the restore";
        return false;
    }
    readBack = session.receiveBinary(10000, "the state again");
    return true;
}

void PluginDrive::checkState() {
    current = Aspect::state;
    session.send("getState");
    const std::string reply = session.receiveText(10000, "the reply to \"getState\"");
    if (reply == "state failed") {
        set(Aspect::state, Status::none, "no chunks: \"state failed\"");
        return;
    }
    if (reply != "state") throw SessionBroken("\"getState\" was answered \"" + reply + "\"");
    std::string chunk = session.receiveBinary(10000, "the state");
    // Some plug-ins finish setting themselves up on threads of their own
    // after the load; the state to give back is the one they settle on.
    std::string why;
    bool settled = false;
    for (int attempt = 0; attempt < 10 && !settled; ++attempt) {
        if (attempt > 0) sleepMs(50);
        if (!playAndCheck(HostSession::blockFrames, HostSession::sampleRate, 4, why)) {
            set(Aspect::state, Status::fails, "before the restore: " + why);
            return;
        }
        session.send("getState");
        if (session.receiveText(10000, "the state once more") != "state") {
            set(Aspect::state, Status::fails, "\"getState\" failed after once giving a state");
            return;
        }
        const std::string next = session.receiveBinary(10000, "the state once more");
        settled = next == chunk;
        chunk = next;
    }
    if (!settled) {
        set(Aspect::state, Status::fails, "its state keeps changing by itself");
        return;
    }
    std::string again;
    if (!restoreAndRead(chunk, again, why)) {
        set(Aspect::state, Status::fails, why);
        return;
    }
    if (again == chunk) {
        set(Aspect::state, Status::ok, std::to_string(chunk.size()) + "-byte chunk restored");
        return;
    }
    std::size_t at = 0;
    while (at < chunk.size() && at < again.size() && chunk[at] == again[at]) ++at;
    std::string detail = "the state read back differs (" + std::to_string(chunk.size()) + " then " +
                         std::to_string(again.size()) + " bytes, first difference at byte " +
                         std::to_string(at) + ")";
    // Whether the plug-in rewrites its state once and then keeps it.
    std::string third;
    if (restoreAndRead(again, third, why))
        detail += third == again ? "; given back again, it stays the same" : "; and again differs";
    set(Aspect::state, Status::fails, detail);
    result[Aspect::state].cause = "differs";
}

namespace {

bool noFrame(const std::vector<WindowInfo>& windows) {
    return windows.empty();
}

bool frameWithEditor(const std::vector<WindowInfo>& windows) {
    return windows.size() == 1 && windows[0].mapped && windows[0].contentChildren > 0;
}

bool frameShown(const std::vector<WindowInfo>& windows) {
    return windows.size() == 1 && windows[0].mapped;
}

}  // namespace

void PluginDrive::checkEditor() {
    current = Aspect::editor;
    testing_support::X11WindowProbe* screen = session.screen();
    if (!screen) {
        set(Aspect::editor, Status::none, "not tried: no X display");
        return;
    }
    const auto shown = editorExpected ? frameWithEditor : frameShown;
    // The frame was up before "ready"; everything since ran with it open.
    auto windows = screen->windowsTitled(frameTitle);
    if (!shown(windows)) {
        set(Aspect::editor, Status::fails,
            windows.empty() ? "no frame after the load"
                            : "the frame holds no editor (" + std::to_string(windows.size()) +
                                  " frames, " + std::to_string(windows[0].contentChildren) +
                                  " windows inside)");
        return;
    }
    const std::string size =
        std::to_string(windows[0].contentWidth) + "x" + std::to_string(windows[0].contentHeight);
    if (!editorExpected && windows[0].contentChildren > 0) {
        set(Aspect::editor, Status::ok, "an editor appeared where none was expected, " + size);
        return;
    }
    screen->requestClose(windows[0].id);
    if (!screen->waitFor(frameTitle, noFrame)) {
        set(Aspect::editor, Status::fails, "the frame did not close when asked to");
        return;
    }
    session.expectAlive("after the editor was closed");
    std::string why;
    if (!playAndCheck(HostSession::blockFrames, HostSession::sampleRate, 4, why)) {
        set(Aspect::editor, Status::fails, "after the editor was closed: " + why);
        return;
    }
    session.send("showGui");
    if (!screen->waitFor(frameTitle, shown)) {
        set(Aspect::editor, Status::fails, "\"showGui\" did not bring the editor back");
        return;
    }
    // Let it idle while audio runs, as it would in use.
    for (int i = 0; i < 10; ++i) {
        sleepMs(30);
        if (!playAndCheck(HostSession::blockFrames, HostSession::sampleRate, 2, why)) {
            set(Aspect::editor, Status::fails, "with the editor reopened: " + why);
            return;
        }
    }
    if (!shown(screen->windowsTitled(frameTitle))) {
        set(Aspect::editor, Status::fails, "the reopened editor went away by itself");
        return;
    }
    if (!editorExpected) {
        set(Aspect::editor, Status::none, "no editor: the frame stays empty (" + size + ")");
        return;
    }
    set(Aspect::editor, Status::ok, size + ", closed, reopened and idled");
}

bool PluginDrive::waitUntilReleased(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (testing_support::X11WindowProbe* screen = session.screen()) {
        if (!screen->waitFor(frameTitle, noFrame, timeoutMs)) return false;
    }
    // The module goes right after the editor, unless the plug-in pins it.
    while (isMapped(session.pid(), entry.path)) {
        if (Clock::now() >= deadline) return false;
        sleepMs(10);
    }
    return true;
}

ProcessStats PluginDrive::quickCycle(std::string& why) {
    session.send("load " + entry.path);
    if (session.receiveText(30000, "the reply to \"load\" again") != "ready")
        throw SessionBroken("a second load was not answered \"ready\"");
    session.receiveText(10000, "the latency again");
    // Taken with the plug-in loaded and the previous one surely gone: the
    // GUI thread unloads and loads in the order asked.
    ProcessStats stats = readProcessStats(session.pid());
    stats.heapKiB = static_cast<long>(session.heapBytes() / 1024);
    // Long enough for plug-ins whose first few thousand samples are silent.
    if (!playAndCheck(HostSession::blockFrames, HostSession::sampleRate, 32, why)) why = "loaded again: " + why;
    session.send("unload");
    return stats;
}

void PluginDrive::checkUnload() {
    current = Aspect::unload;
    session.send("unload");
    if (session.screen() && !session.screen()->waitFor(frameTitle, noFrame)) {
        set(Aspect::unload, Status::fails, "the editor frame stayed after \"unload\"");
        return;
    }
    const bool released = waitUntilReleased(2000);
    session.expectAlive("after \"unload\"");
    // The first load may set up what stays for the process's life (caches,
    // a toolkit); what grows with every further load is a leak.
    const int cycles = static_cast<int>(expectation.number("cycles", 3));
    std::string why;
    std::vector<ProcessStats> stats;
    for (int cycle = 0; cycle < cycles && why.empty(); ++cycle) stats.push_back(quickCycle(why));
    if (!why.empty()) {
        set(Aspect::unload, Status::fails, why);
        return;
    }
    // A leak grows with every load; one step of noise does not.
    const long limitKiB = static_cast<long>(expectation.number("growth-kib", 256));
    bool leaks = stats.size() > 1;
    std::string kib, threads, files;
    for (std::size_t i = 1; i < stats.size(); ++i) {
        const long grownKiB = stats[i].heapKiB - stats[i - 1].heapKiB;
        const int moreThreads = stats[i].threads - stats[i - 1].threads;
        const int moreFiles = stats[i].descriptors - stats[i - 1].descriptors;
        leaks = leaks && (grownKiB > limitKiB || moreThreads > 0 || moreFiles > 0);
        const std::string separator = i == 1 ? "" : " / ";
        kib += separator + signedText(grownKiB);
        threads += separator + signedText(moreThreads);
        files += separator + signedText(moreFiles);
    }
    const std::string detail =
        std::string(released ? "module released" : "module stays mapped after unload") +
        "; each further load: heap " + kib + " KiB, threads " + threads + ", open files " + files;
    // Modules are released at unload, except those the program keeps on
    // purpose (they bring GObject, which cannot be unloaded).
    const bool resident = expectation.options.count("resident") && expectation.options.at("resident") == "yes";
    if (released == resident) {
        set(Aspect::unload, Status::fails,
            resident ? "expected to stay loaded, but the module was released at unload"
                     : "the module is still loaded after unload");
        return;
    }
    set(Aspect::unload, leaks ? Status::fails : Status::ok, detail);
    if (leaks) result[Aspect::unload].cause = "leak";
}

}  // namespace compat
