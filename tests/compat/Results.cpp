#include "Results.h"

#include <fstream>
#include <sstream>

namespace compat {

namespace {

std::string clean(std::string text) {
    for (char& c : text)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return text;
}

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

}  // namespace

const char* aspectName(Aspect aspect) {
    switch (aspect) {
        case Aspect::load: return "load";
        case Aspect::audio: return "audio";
        case Aspect::midi: return "midi";
        case Aspect::settings: return "settings";
        case Aspect::state: return "state";
        case Aspect::editor: return "editor";
        case Aspect::unload: return "unload";
    }
    return "?";
}

const char* statusName(Status status) {
    switch (status) {
        case Status::ok: return "ok";
        case Status::fails: return "fails";
        case Status::none: return "none";
    }
    return "?";
}

bool parseAspect(const std::string& name, Aspect& aspect) {
    for (Aspect each : allAspects) {
        if (name == aspectName(each)) {
            aspect = each;
            return true;
        }
    }
    return false;
}

bool parseStatus(const std::string& name, Status& status) {
    for (Status each : {Status::ok, Status::fails, Status::none}) {
        if (name == statusName(each)) {
            status = each;
            return true;
        }
    }
    return false;
}

void appendResults(const std::string& path, const std::vector<PluginResult>& results) {
    std::ofstream file(path, std::ios::app);
    for (const PluginResult& result : results) {
        file << clean(result.package) << '\t' << clean(result.file) << '\t' << clean(result.path)
             << '\t' << clean(result.kind);
        for (Aspect aspect : allAspects)
            file << '\t' << statusName(result[aspect].status) << '\t' << clean(result[aspect].detail);
        file << '\t' << clean(result.note) << '\t' << clean(result.verdict) << '\t'
             << result.seconds << '\n';
    }
}

std::vector<PluginResult> readResults(const std::string& path) {
    std::vector<PluginResult> results;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        const std::vector<std::string> fields = splitTabs(line);
        if (fields.size() != 4 + 2 * aspectCount + 3) continue;
        PluginResult result;
        result.package = fields[0];
        result.file = fields[1];
        result.path = fields[2];
        result.kind = fields[3];
        std::size_t at = 4;
        for (Aspect aspect : allAspects) {
            parseStatus(fields[at], result[aspect].status);
            result[aspect].detail = fields[at + 1];
            at += 2;
        }
        result.note = fields[at];
        result.verdict = fields[at + 1];
        std::istringstream(fields[at + 2]) >> result.seconds;
        results.push_back(std::move(result));
    }
    return results;
}

}  // namespace compat
