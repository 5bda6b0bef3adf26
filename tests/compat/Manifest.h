// The suite's list of what each plug-in is and what it is expected to do
// (plugins.conf): its kind decides how its audio is judged, and every
// exception to "works" is written down there with the reason.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Results.h"

namespace compat {

struct Expectation {
    std::string kind = "effect";
    std::array<std::optional<Status>, aspectCount> statuses{};  // unset: the kind's default
    // Why an aspect is expected to fail ("fails:leak"), where the list says;
    // a failure for another reason is then a surprise.
    std::array<std::string, aspectCount> causes{};
    std::map<std::string, std::string> options;
    std::string note;

    Status expected(Aspect aspect) const;
    double number(const std::string& option, double fallback) const;
};

class Manifest {
public:
    // False with a message when the file cannot be read or a line is wrong.
    bool read(const std::string& path, std::string& error);
    // Every line whose pattern matches the module applies, in order; later
    // lines override earlier ones, notes are joined. A pattern with a "/" is
    // matched against the whole path, any other against the file name.
    Expectation lookup(const std::string& path) const;
    // What the list says about a whole package ("package <name> -- <text>").
    std::string packageNote(const std::string& package) const;

private:
    struct Rule {
        std::string pattern;
        std::string kind;  // "-" keeps the kind of earlier lines
        std::vector<std::pair<Aspect, Status>> statuses;
        std::vector<std::pair<Aspect, std::string>> causes;
        std::map<std::string, std::string> options;
        std::string note;
    };
    std::vector<Rule> rules;
    std::map<std::string, std::string> packageNotes;
};

bool isKnownKind(const std::string& kind);

}  // namespace compat
