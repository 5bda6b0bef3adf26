#include "Manifest.h"

#include <fnmatch.h>

#include <fstream>
#include <sstream>

namespace compat {

namespace {

const char* const kinds[] = {"library", "effect", "reverb", "passthrough", "instrument", "generator"};

}  // namespace

bool isKnownKind(const std::string& kind) {
    for (const char* each : kinds)
        if (kind == each) return true;
    return false;
}

Status Expectation::expected(Aspect aspect) const {
    const auto& set = statuses[static_cast<std::size_t>(aspect)];
    if (aspect == Aspect::load) {
        if (set) return *set;
        return kind == "library" ? Status::fails : Status::ok;
    }
    // Nothing follows a load that is meant to fail.
    if (expected(Aspect::load) == Status::fails) return Status::none;
    if (set) return *set;
    switch (aspect) {
        case Aspect::midi: return kind == "instrument" ? Status::ok : Status::none;
        case Aspect::state: return Status::none;  // chunks are declared per plug-in
        default: return Status::ok;
    }
}

double Expectation::number(const std::string& option, double fallback) const {
    const auto found = options.find(option);
    if (found == options.end()) return fallback;
    std::istringstream text(found->second);
    double value = fallback;
    text >> value;
    return value;
}

bool Manifest::read(const std::string& path, std::string& error) {
    std::ifstream file(path);
    if (!file) {
        error = "cannot read " + path;
        return false;
    }
    int number = 0;
    for (std::string line; std::getline(file, line);) {
        ++number;
        const std::string where = path + ":" + std::to_string(number) + ": ";
        std::string note;
        if (const std::size_t dashes = line.find(" -- "); dashes != std::string::npos) {
            note = line.substr(dashes + 4);
            line.resize(dashes);
        }
        if (const std::size_t hash = line.find('#'); hash != std::string::npos) line.resize(hash);
        std::istringstream words(line);
        Rule rule;
        if (!(words >> rule.pattern)) continue;
        if (rule.pattern == "package") {
            std::string name;
            if (!(words >> name) || note.empty()) {
                error = where + "\"package\" takes a name and a note";
                return false;
            }
            packageNotes[name] += (packageNotes[name].empty() ? "" : " ") + note;
            continue;
        }
        if (!(words >> rule.kind) || (rule.kind != "-" && !isKnownKind(rule.kind))) {
            error = where + "a kind must follow the pattern";
            return false;
        }
        for (std::string word; words >> word;) {
            const std::size_t equals = word.find('=');
            if (equals == std::string::npos) {
                error = where + "expected name=value, got " + word;
                return false;
            }
            const std::string name = word.substr(0, equals), value = word.substr(equals + 1);
            Aspect aspect;
            Status status;
            if (parseAspect(name, aspect)) {
                const std::size_t colon = value.find(':');
                if (colon != std::string::npos) rule.causes.emplace_back(aspect, value.substr(colon + 1));
                if (!parseStatus(value.substr(0, colon), status)) {
                    error = where + "unknown status " + value;
                    return false;
                }
                rule.statuses.emplace_back(aspect, status);
            } else {
                rule.options[name] = value;
            }
        }
        rule.note = note;
        rules.push_back(std::move(rule));
    }
    return true;
}

Expectation Manifest::lookup(const std::string& path) const {
    Expectation expectation;
    const std::string fileName = path.substr(path.rfind('/') + 1);
    for (const Rule& rule : rules) {
        const std::string& subject = rule.pattern.find('/') == std::string::npos ? fileName : path;
        if (fnmatch(rule.pattern.c_str(), subject.c_str(), 0) != 0) continue;
        if (rule.kind != "-") expectation.kind = rule.kind;
        for (const auto& [aspect, status] : rule.statuses) {
            expectation.statuses[static_cast<std::size_t>(aspect)] = status;
            expectation.causes[static_cast<std::size_t>(aspect)].clear();
        }
        for (const auto& [aspect, cause] : rule.causes)
            expectation.causes[static_cast<std::size_t>(aspect)] = cause;
        for (const auto& [name, value] : rule.options) expectation.options[name] = value;
        if (!rule.note.empty())
            expectation.note += (expectation.note.empty() ? "" : " ") + rule.note;
    }
    return expectation;
}

std::string Manifest::packageNote(const std::string& package) const {
    const auto found = packageNotes.find(package);
    return found == packageNotes.end() ? std::string() : found->second;
}

}  // namespace compat
