// The compatibility runner: every VST 2 module of the named Debian packages
// (or every N-th of them, from the I-th) through the real program, on a
// fresh instance after a crash. Exits 0 when each did what plugins.conf
// expects of it; a module that did not gets one more try on a fresh
// instance, since editors' timing on a loaded machine varies. Writes one
// line per module to the results file, for tests/compat/make-table.sh.
//
//   compat_runner RESULTS-FILE I/N PACKAGE...
//
// Without an X display it skips (status 77): it opens every editor.
#include <fnmatch.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <vector>

#include "LayoutCheck.h"
#include "ParameterCheck.h"
#include "PluginCheck.h"

using namespace compat;
using testing_support::ProgramUnderTest;
using testing_support::WsClient;

namespace {

const std::vector<std::string> aspects = {"load",       "audio",  "midi",   "settings", "state",
                                          "parameters", "layout", "editor", "unload"};

// What plugins.conf expects of a plug-in: its kind, the aspects that fail
// or do not apply, and why.
struct Expectation {
    std::string kind = "effect";
    std::map<std::string, std::string>
        aspect;  // "fails", "none" or "ok"; unset: the kind's default
    std::vector<std::pair<std::string, double>> settings;  // for the layout aspect
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

// Every matching line of plugins.conf applies, in order; a pattern with a
// "/" is matched against the whole path, any other against the file name.
Expectation expectationFor(const std::string& path) {
    Expectation result;
    std::ifstream in(CORVEL_COMPAT_EXPECTATIONS);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string pattern, kind, word;
        words >> pattern >> kind;
        const std::string subject =
            pattern.find('/') != std::string::npos ? path : path.substr(path.rfind('/') + 1);
        if (kind.empty() || pattern[0] == '#' || fnmatch(pattern.c_str(), subject.c_str(), 0) != 0)
            continue;
        if (kind != "-") result.kind = kind;
        while (words >> word && word != "--") {
            const std::size_t equals = word.rfind('=');
            if (word.rfind("set:", 0) == 0)
                result.settings.emplace_back(word.substr(4, equals - 4),
                                             std::atof(word.c_str() + equals + 1));
            else result.aspect[word.substr(0, equals)] = word.substr(equals + 1);
        }
        if (word == "--" && std::getline(words >> std::ws, word))
            result.note += (result.note.empty() ? "" : " ") + word;
    }
    return result;
}

std::vector<std::string> modulesOf(const std::string& package) {
    std::vector<std::string> lines;
    const std::string command = "dpkg -L " + package + " | grep -E '/(lx)?vst/.*\\.so$' | sort";
    if (FILE* pipe = popen(command.c_str(), "r")) {
        for (char buffer[4096]; std::fgets(buffer, sizeof buffer, pipe);)
            lines.emplace_back(buffer);
        pclose(pipe);
    }
    for (std::string& line : lines) line.pop_back();  // the newline
    return lines;
}

// The program under test and its client, started afresh when asked or when gone;
// and a second one for the aspects over protocol 2.
class Host {
public:
    ProgramUnderTest& program() { return *running; }
    // Without a display, so that the plug-in's second instance opens no
    // editor (an LSP editor takes most of a second on a loaded machine);
    // 0 when it does not start.
    uint16_t headlessPort() {
        if (!headless || !headless->running()) {
            headless = std::make_unique<ProgramUnderTest>(
                std::map<std::string, std::string>{{"DISPLAY", ""}});
            if (!headless->start()) return 0;
        }
        return headless->port();
    }
    WsClient& client() { return *connection; }
    bool ready(bool fresh) {
        if (!fresh && running && running->running() && connection->isOpen()) return true;
        if (running && running->running() && connection->isOpen()) {
            connection->sendText("quit");
            running->waitExit(20000);
        }
        connection = std::make_unique<WsClient>();
        running = std::make_unique<ProgramUnderTest>();
        return running->start() && connection->connect(running->port(), 20000) &&
               connection->receiveText(20000);
    }

private:
    std::unique_ptr<ProgramUnderTest> running;
    std::unique_ptr<WsClient> connection;
    std::unique_ptr<ProgramUnderTest> headless;
};

// The aspects checked over protocol 2, in the program without a display:
// the parameters on a load as any client makes it, then the layout on a
// load with all the plug-in's channels. A reply whose fields are not of
// their documented types fails the aspect under way.
void checkOverVersion2(uint16_t port, const std::string& path, const Expectation& expectation,
                       std::map<std::string, Outcome>& outcome) {
    outcome["parameters"] = outcome["layout"] = {"fails", "no connection over protocol 2"};
    Version2Connection v2;
    if (port == 0 || !v2.open(port)) return;
    std::string aspect = "parameters";
    try {
        const nlohmann::json loaded = v2.ask({{"op", "load"}, {"path", path}});
        if (!loaded.value("ok", false)) {
            outcome["parameters"] = outcome["layout"] = {"fails", "load over protocol 2 refused"};
            return;
        }
        outcome[aspect] = checkParameters(v2, loaded.value("parameters", -1));
        aspect = "layout";
        outcome[aspect] =
            checkLayout(v2, {path, expectation.kind == "instrument", loaded.value("inputs", 0),
                             loaded.value("outputs", 0), expectation.settings});
        v2.ask({{"op", "unload"}});
    } catch (const nlohmann::json::exception& wrongType) {
        outcome[aspect] = {"fails", std::string("a reply not as documented: ") + wrongType.what()};
        if (aspect == "parameters") outcome["layout"] = {"fails", "not checked"};
    }
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
    int shard = 0, shards = 0;
    if (argc < 4 || std::sscanf(argv[2], "%d/%d", &shard, &shards) != 2) {
        std::cerr << "usage: compat_runner RESULTS-FILE I/N PACKAGE...\n";
        return 2;
    }
    if (!std::getenv("DISPLAY") || !*std::getenv("DISPLAY")) {
        std::cout << "needs an X display: skipped\n";
        return 77;
    }
    Host host;
    std::string listed;
    if (host.ready(true) && host.client().sendText("scanVSTs"))
        listed = host.client().receiveText(60000).value_or("");
    std::ofstream results(argv[1]);
    int unexpected = 0, index = 0, tried = 0;
    for (int p = 3; p < argc; ++p) {
        for (const std::string& path : modulesOf(argv[p])) {
            if (index++ % shards != shard - 1) continue;
            ++tried;
            const Expectation expectation = expectationFor(path);
            std::map<std::string, Outcome> outcome;
            std::string mismatch;
            for (int attempt = 0; attempt < 2 && (attempt == 0 || !mismatch.empty()); ++attempt) {
                outcome.clear();
                if (host.ready(attempt > 0))
                    outcome = checkPlugin(host.program(), host.client(), path, expectation.kind);
                else outcome["load"] = {"fails", "the program did not start"};
                if (outcome["load"].status == "ok")
                    checkOverVersion2(host.headlessPort(), path, expectation, outcome);
                if (listed.find("\"" + path + "\"") == std::string::npos)
                    outcome["load"] = {"fails", "not listed by scanVSTs"};
                mismatch = mismatches(outcome, expectation);
            }
            std::cout << (mismatch.empty() ? "[ as expected ] " : "[ UNEXPECTED  ] ") << path
                      << mismatch << std::endl;
            unexpected += !mismatch.empty();
            results << argv[p] << '\t' << path.substr(path.rfind('/') + 1) << '\t'
                    << expectation.kind;
            for (const std::string& aspect : aspects)
                results << '\t' << outcome[aspect].status << '|' << outcome[aspect].detail;
            results << '\t' << expectation.note << '\n';
        }
    }
    std::cout << tried << " modules, " << unexpected << " not as expected\n";
    return tried > 0 && unexpected == 0 ? 0 : 1;
}
