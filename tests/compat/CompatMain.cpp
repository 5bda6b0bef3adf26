// The compatibility runner: every VST 2 module of the named sources (or
// every N-th of them, from the I-th) through the real program, on a fresh
// instance after a crash. Exits 0 when each did what the expectations file
// says of it; a module that did not gets one more try on a fresh instance,
// since editors' timing on a loaded machine varies. Writes one line per
// module to the results file, for tests/compat/make-table.sh. With --ci,
// the modules that the expectations mark ci=no are named and left out.
//
//   compat_runner [--ci] [--host PLUGIN-HOST] [--reloads N] RESULTS-FILE I/N SOURCE...
//
// A source is a Debian package on Linux, LABEL=FOLDER on Windows (see
// CompatProgram.h). Each plug-in must run in one plug-in process of the
// named executable (default corvel-plugin-host), and load again N times
// after its unload (default 0). Without a display it skips (status 77): it
// opens every editor.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

#include "PluginCheck.h"

using namespace compat;

namespace {

const std::vector<std::string> aspects = {"load",       "audio",  "midi",   "settings", "state",
                                          "parameters", "layout", "editor", "unload"};

// What the expectations file says of a plug-in: its kind, the aspects that fail
// or do not apply, whether CI runs it, and why.
struct Expectation {
    std::string kind = "effect";
    bool inCi = true;
    std::map<std::string, std::string>
        aspect;         // "fails", "none" or "ok"; unset: the kind's default
    Settings settings;  // for the layout aspect
    std::string note;

    std::string expected(const std::string& name) const {
        const auto found = aspect.find(name);
        if (found != aspect.end()) return found->second;
        // Most offer no chunks, and have no channels past the first pair.
        if ((name == "midi" && kind != "instrument") || name == "state" || name == "layout")
            return "none";
        return "ok";
    }
};

// Shell-style: "*" stands for any run of characters, "?" for any one, and
// "[...]" for one of a set (ranges such as "a-z" allowed).
bool matches(const char* pattern, const char* text) {
    if (*pattern == '*') return matches(pattern + 1, text) || (*text && matches(pattern, text + 1));
    if (!*text) return !*pattern;
    if (*pattern == '[') {
        const char* end = std::strchr(pattern + 1, ']');
        if (!end) return false;
        bool inSet = false;
        for (const char* c = pattern + 1; c < end; ++c) {
            if (c + 2 < end && c[1] == '-') {
                inSet = inSet || (*text >= c[0] && *text <= c[2]);
                c += 2;
            } else {
                inSet = inSet || *text == *c;
            }
        }
        return inSet && matches(end + 1, text + 1);
    }
    return (*pattern == '?' || *pattern == *text) && matches(pattern + 1, text + 1);
}

std::string fileName(const std::string& path) {
    return path.substr(path.find_last_of("/\\") + 1);
}

// Every matching line of the expectations applies, in order; a pattern with
// a "/" is matched against the whole path, any other against the file name.
Expectation expectationFor(const std::string& path) {
    Expectation result;
    std::ifstream in(CORVEL_COMPAT_EXPECTATIONS);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string pattern, kind, word;
        words >> pattern >> kind;
        const std::string subject = pattern.find('/') != std::string::npos ? path : fileName(path);
        if (kind.empty() || pattern[0] == '#' || !matches(pattern.c_str(), subject.c_str()))
            continue;
        if (kind != "-") result.kind = kind;
        while (words >> word && word != "--") {
            const std::size_t equals = word.rfind('=');
            const std::string key = word.substr(0, equals);
            const std::string value = word.substr(equals + 1);
            if (key == "ci") result.inCi = value != "no";
            else if (key.rfind("set:", 0) == 0)
                result.settings.emplace_back(key.substr(4), std::atof(value.c_str()));
            else result.aspect[key] = value;
        }
        if (word == "--" && std::getline(words >> std::ws, word))
            result.note += (result.note.empty() ? "" : " ") + word;
    }
    return result;
}

// What did not go as expected, or nothing.
std::string mismatches(std::map<std::string, Outcome>& outcome, const Expectation& expectation) {
    std::string found;
    for (const std::string& aspect : aspects) {
        const Outcome& got = outcome[aspect];
        if (got.status != expectation.expected(aspect) &&
            (aspect == "load" || outcome["load"].status == "ok"))
            found += " " + aspect + ": " + got.status + " (" + got.detail + "), expected " +
                     expectation.expected(aspect) + ";";
    }
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    CheckOptions options{"", "corvel-plugin-host", 0};
    bool ciShare = false;
    int first = 1;
    for (; first < argc && std::strcmp(argv[first], "--ci") == 0; ++first) ciShare = true;
    for (; first + 1 < argc && std::strncmp(argv[first], "--", 2) == 0; first += 2) {
        if (std::strcmp(argv[first], "--host") == 0) options.pluginHost = argv[first + 1];
        if (std::strcmp(argv[first], "--reloads") == 0)
            options.reloads = std::atoi(argv[first + 1]);
    }
    int shard = 0, shards = 0;
    if (argc - first < 3 || std::sscanf(argv[first + 1], "%d/%d", &shard, &shards) != 2) {
        std::cerr
            << "usage: compat_runner [--ci] [--host PLUGIN-HOST] [--reloads N] RESULTS-FILE I/N "
               "SOURCE...\n";
        return 2;
    }
    std::unique_ptr<CompatProgram> host = makeCompatProgram();
    if (!host) {
        std::cout << "needs a display: skipped\n";
        return 77;
    }
    std::string listed;
    if (host->ready(true) && host->client().sendText("scanVSTs"))
        listed = host->client().receiveText(60000).value_or("");
    std::ofstream results(argv[first]);
    int unexpected = 0, index = 0, tried = 0;
    for (int p = first + 2; p < argc; ++p) {
        const ModuleSource source = modulesOf(argv[p]);
        for (const std::string& path : source.paths) {
            const Expectation expectation = expectationFor(path);
            // Shared out among the shards after the selection, so none is left without one.
            if (ciShare && !expectation.inCi) {
                if (shard == 1) std::cout << "[ not in CI   ] " << path << std::endl;
                continue;
            }
            if (index++ % shards != shard - 1) continue;
            ++tried;
            options.kind = expectation.kind;
            std::map<std::string, Outcome> outcome;
            std::string mismatch;
            for (int attempt = 0; attempt < 2 && (attempt == 0 || !mismatch.empty()); ++attempt) {
                outcome.clear();
                if (host->ready(attempt > 0)) outcome = checkPlugin(*host, path, options);
                else outcome["load"] = {"fails", "the program did not start"};
                if (outcome["load"].status == "ok")
                    host->checkOverVersion2(path, expectation.kind, expectation.settings, outcome);
                if (listed.find("\"" + path + "\"") == std::string::npos)
                    outcome["load"] = {"fails", "not listed by scanVSTs"};
                mismatch = mismatches(outcome, expectation);
            }
            std::cout << (mismatch.empty() ? "[ as expected ] " : "[ UNEXPECTED  ] ") << path
                      << mismatch << std::endl;
            unexpected += !mismatch.empty();
            results << source.label << '\t' << fileName(path) << '\t' << expectation.kind;
            for (const std::string& aspect : aspects)
                results << '\t' << outcome[aspect].status << '|' << outcome[aspect].detail;
            results << '\t' << expectation.note << '\n';
        }
    }
    std::cout << tried << " modules, " << unexpected << " not as expected\n";
    return tried > 0 && unexpected == 0 ? 0 : 1;
}
