#include "Expectations.h"

#include <fnmatch.h>

#include <fstream>
#include <sstream>

namespace compat {

std::string Expectation::expected(const std::string& name) const {
    const auto found = aspect.find(name);
    if (found != aspect.end()) return found->second;
    if (name == "midi" && kind != "instrument") return "none";
    if (name == "state") return "none";  // most plug-ins offer no chunks
    return "ok";
}

Expectations::Expectations(const std::string& file) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::vector<std::string> parsed;
        for (std::string word; words >> word;) parsed.push_back(word);
        if (!parsed.empty() && parsed[0][0] != '#') lines.push_back(parsed);
    }
}

Expectation Expectations::forPath(const std::string& path) const {
    Expectation result;
    const std::string file = path.substr(path.rfind('/') + 1);
    for (const auto& words : lines) {
        const std::string& subject = words[0].find('/') != std::string::npos ? path : file;
        if (words.size() < 2 || fnmatch(words[0].c_str(), subject.c_str(), 0) != 0) continue;
        if (words[1] != "-") result.kind = words[1];
        for (std::size_t i = 2; i < words.size(); ++i) {
            if (words[i] == "--") {
                for (std::size_t j = i + 1; j < words.size(); ++j) result.note += (j > i + 1 ? " " : "") + words[j];
                break;
            }
            const auto equals = words[i].find('=');
            const std::string key = words[i].substr(0, equals), value = words[i].substr(equals + 1);
            if (key == "audible") result.audible = value;
            else if (key == "settle-blocks") result.settleBlocks = std::stoi(value);
            else result.aspect[key] = value;
        }
    }
    return result;
}

}  // namespace compat
