// What plugins.conf expects of a plug-in: its kind, the aspects that fail
// or do not apply, how it sounds, and why.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace compat {

const std::vector<std::string> aspects = {"load", "audio", "midi", "settings", "state", "editor", "unload"};

struct Expectation {
    std::string kind = "effect";
    std::map<std::string, std::string> aspect;  // "fails" or "none"; unset: works
    std::string audible = "yes";                // yes, left or no
    int settleBlocks = 8;
    std::string note;

    std::string expected(const std::string& name) const;
};

class Expectations {
public:
    explicit Expectations(const std::string& file);
    // Every matching line applies, in order; a pattern with a "/" matches the path.
    Expectation forPath(const std::string& path) const;

private:
    std::vector<std::vector<std::string>> lines;  // words; "--" starts the note
};

}  // namespace compat
