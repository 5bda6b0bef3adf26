// What one plug-in did in the suite, aspect by aspect, and the file that
// carries the results from the runs to the table.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace compat {

enum class Aspect { load, audio, midi, settings, state, editor, unload };
constexpr std::size_t aspectCount = 7;
constexpr std::array<Aspect, aspectCount> allAspects = {Aspect::load,  Aspect::audio,
                                                        Aspect::midi,  Aspect::settings,
                                                        Aspect::state, Aspect::editor,
                                                        Aspect::unload};

// none: the aspect does not apply (an effect takes no notes, a plug-in
// without chunks has no state to give back) or was not reached.
enum class Status { ok, fails, none };

struct Outcome {
    Status status = Status::none;
    std::string detail;
    std::string cause;  // what kind of failure, where the suite names it ("leak")
};

struct PluginResult {
    std::string package;
    std::string file;  // name of the module file
    std::string path;
    std::string kind;
    std::string note;  // why, where the suite's list explains a limitation
    std::array<Outcome, aspectCount> outcomes{};
    std::string verdict;  // empty when every aspect came out as expected
    double seconds = 0.0;
    std::array<long, aspectCount> milliseconds{};  // per aspect, for the log only

    Outcome& operator[](Aspect aspect) { return outcomes[static_cast<std::size_t>(aspect)]; }
    const Outcome& operator[](Aspect aspect) const {
        return outcomes[static_cast<std::size_t>(aspect)];
    }
};

const char* aspectName(Aspect aspect);
const char* statusName(Status status);
bool parseAspect(const std::string& name, Aspect& aspect);
bool parseStatus(const std::string& name, Status& status);

// One line per plug-in, tab-separated.
void appendResults(const std::string& path, const std::vector<PluginResult>& results);
std::vector<PluginResult> readResults(const std::string& path);

}  // namespace compat
