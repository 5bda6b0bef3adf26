#include "LayoutCheck.h"

#include <fnmatch.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace compat {

namespace {

using nlohmann::json;

constexpr uint32_t frames = 1024;
constexpr int sampleRate = 48000;
// Half a second a pass: the dynamics processors' attack and release at
// their defaults (LSP's 20 ms and 100 ms) have long settled.
constexpr int passBlocks = 24;
constexpr int measuredBlocks = 4;       // the pass's last ones
constexpr double heardLevel = 1e-3;     // -60 dBFS RMS
constexpr double silence = 1e-6;        // -120 dBFS RMS
constexpr double changedRatio = 1.122;  // 1 dB

// The first pair a 440 Hz sine at -12 dBFS; every input past it, when
// `extra`, a 220 Hz sine at -1 dBFS, loud enough to cross a dynamics
// processor's threshold at its defaults.
std::vector<float> inputs(int channels, int block, bool extra) {
    std::vector<float> samples(std::size_t(channels) * frames, 0.0f);
    for (int c = 0; c < channels; ++c) {
        if (c >= 2 && !extra) continue;
        const double frequency = c < 2 ? 440 : 220, amplitude = c < 2 ? 0.25 : 0.9;
        for (uint32_t i = 0; i < frames; ++i)
            samples[c * frames + i] =
                float(amplitude *
                      std::sin(2 * M_PI * frequency * (block * double(frames) + i) / sampleRate));
    }
    return samples;
}

// Channels 3 to `last`, as a sentence names them.
std::string pastFirstPair(int last) {
    if (last == 3) return "3";
    return last == 4 ? "3 and 4" : "3 to " + std::to_string(last);
}

// How the inputs past the first pair (`one` of them, or more) moved output
// `c` of levels without them (`quiet`) to levels with them (`full`).
std::string movement(int c, double quiet, double full, bool one) {
    const std::string output = "output " + std::to_string(c + 1);
    const std::string ending = one ? "s " : " ";
    if (quiet <= silence) return "bring" + ending + output + " out of silence";
    if (full <= silence) return "silence" + ending + output;
    char by[32];
    std::snprintf(by, sizeof by, " by %+.1f dB", 20 * std::log10(full / quiet));
    return "move" + ending + output + by;
}

Outcome fails(const std::string& why) {
    return {"fails", why};
}

class LayoutRun {
public:
    LayoutRun(Version2Connection& v2, const LayoutPlan& plan) : v2(v2), plan(plan) {}

    // Plays a pass; the RMS level of each output over its last blocks in
    // `levels`. Empty when every block came back whole and finite, else why not.
    std::string play(bool extra, std::vector<double>& levels) {
        levels.assign(plan.outputs, 0.0);
        std::vector<float> reply;
        for (int block = 0; block < passBlocks; ++block) {
            std::vector<uint8_t> records;
            if (plan.instrument && block == 0) addMidiRecord(records, 0, 0x90, 60, 100);
            uint32_t count = 0;
            if (!v2.sendBlock(inputs(plan.inputs, block, extra), frames, records) ||
                !v2.receiveBlock(frames, reply, count))
                return "block " + std::to_string(played + 1) + " got no reply of " +
                       std::to_string(frames) + " frames";
            ++played;
            if (count != uint32_t(plan.outputs))
                return "block " + std::to_string(played) + " came back with " +
                       std::to_string(count) + " channels, not " + std::to_string(plan.outputs);
            if (!std::all_of(reply.begin(), reply.end(), [](float s) { return std::isfinite(s); }))
                return "block " + std::to_string(played) + " came back with samples not finite";
            if (block < passBlocks - measuredBlocks) continue;
            for (int c = 0; c < plan.outputs; ++c)
                for (uint32_t i = 0; i < frames; ++i)
                    levels[c] += double(reply[c * frames + i]) * reply[c * frames + i];
        }
        for (double& level : levels) level = std::sqrt(level / (measuredBlocks * frames));
        return "";
    }

private:
    Version2Connection& v2;
    const LayoutPlan& plan;
    int played = 0;
};

// Empty when every pattern names a parameter and each was set, else why not.
std::string applySettings(Version2Connection& v2, const LayoutPlan& plan) {
    if (plan.settings.empty()) return "";
    const json list = v2.ask({{"op", "parameters"}}).value("parameters", json::array());
    for (const auto& [pattern, value] : plan.settings) {
        int matched = 0;
        for (const json& entry : list) {
            const std::string name = entry.is_object() ? entry.value("name", "") : "";
            if (fnmatch(pattern.c_str(), name.c_str(), 0) != 0) continue;
            if (!v2.ok({{"op", "setParameter"},
                        {"index", entry.value("index", -1)},
                        {"value", value}}))
                return "setParameter refused " + name;
            ++matched;
        }
        if (matched == 0) return "no parameter is named " + pattern;
    }
    return "";
}

}  // namespace

Outcome checkLayout(Version2Connection& v2, const LayoutPlan& plan) {
    if (plan.inputs <= 2 && plan.outputs <= 2) return {"none", ""};
    const std::string layout =
        std::to_string(plan.inputs) + " in, " + std::to_string(plan.outputs) + " out";
    v2.ask({{"op", "unload"}});
    if (!v2.ok({{"op", "configure"}, {"sampleRate", sampleRate}, {"blockSize", frames}}))
        return fails("configure refused 48 kHz and " + std::to_string(frames) + " frames");
    const json loaded = v2.ask(
        {{"op", "load"}, {"path", plan.path}, {"inputs", plan.inputs}, {"outputs", plan.outputs}});
    const json chosen = {{"inputs", plan.inputs}, {"outputs", plan.outputs}};
    if (!loaded.value("ok", false) || loaded.value("layout", json()) != chosen)
        return fails("load with " + layout + ": " + loaded.dump());
    if (const std::string why = applySettings(v2, plan); !why.empty()) return fails(why);

    LayoutRun run(v2, plan);
    std::vector<double> quiet, full;
    // The inputs past the first pair silent, then sounding: a side-chain's
    // compressor or gate then moves from rest to work, in its attack time.
    if (plan.inputs > 2)
        if (const std::string why = run.play(false, quiet); !why.empty()) return fails(why);
    if (const std::string why = run.play(true, full); !why.empty()) return fails(why);

    std::string heard = layout;
    if (plan.outputs > 2) {
        const auto sounding = std::count_if(full.begin() + 2, full.end(),
                                            [](double level) { return level > heardLevel; });
        if (sounding == 0) return fails("outputs " + pastFirstPair(plan.outputs) + " are silent");
        heard += ", " + (sounding == plan.outputs - 2 ? "" : std::to_string(sounding) + " of ") +
                 "outputs " + pastFirstPair(plan.outputs) + " sound";
    }
    if (plan.inputs > 2) {
        // The output that the inputs past the first pair move the most.
        int moved = -1;
        double most = 1;
        for (int c = 0; c < plan.outputs; ++c) {
            const double louder = std::max(quiet[c], full[c]), softer = std::min(quiet[c], full[c]);
            if (louder <= heardLevel) continue;
            const double ratio = louder / std::max(softer, silence);
            if (ratio > most) most = ratio, moved = c;
        }
        const bool one = plan.inputs == 3;
        const std::string extra = (one ? "input " : "inputs ") + pastFirstPair(plan.inputs);
        if (moved < 0 || most < changedRatio)
            return fails(extra + (one ? " changes" : " change") + " no output by 1 dB or more");
        heard += ", " + extra + " " + movement(moved, quiet[moved], full[moved], one);
    }
    return {"ok", heard};
}

}  // namespace compat
