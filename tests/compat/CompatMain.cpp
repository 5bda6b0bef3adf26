// The compatibility runner: every VST 2 module of the named Debian packages
// through the real program, a fresh instance after a crash and every few
// modules (some editors leave an X connection behind each time). Exits 0
// when each did what plugins.conf expects of it; a module that did not gets
// one more try on a fresh instance, since editors' timing on a loaded
// machine varies.
//
//   compat_runner --results FILE [--shard I/N] PACKAGE...
//   compat_runner --table OUT.md RESULTS...
//
// Without an X display it skips (status 77): it opens every editor.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

#include "PluginCheck.h"

using namespace compat;

namespace {

std::vector<std::string> commandLines(const std::string& command) {
    std::vector<std::string> lines;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        while (std::fgets(buffer, sizeof buffer, pipe)) {
            std::string line(buffer);
            if (!line.empty() && line.back() == '\n') line.pop_back();
            lines.push_back(line);
        }
        pclose(pipe);
    }
    return lines;
}

// The program under test and its client, started afresh when asked or when gone.
class Host {
public:
    testing_support::ProgramUnderTest& program() { return *running; }
    testing_support::WsClient& client() { return *connection; }
    bool ready(bool fresh) {
        if (fresh || uses++ >= 20 || !running || !running->running() || !connection->isOpen()) {
            if (running && running->running() && connection->isOpen()) {
                connection->sendText("quit");
                running->waitExit(20000);
            }
            connection = std::make_unique<testing_support::WsClient>();
            running = std::make_unique<testing_support::ProgramUnderTest>();
            uses = 1;
            if (!running->start() || !connection->connect(running->port(), 20000) || !connection->receiveText(20000))
                return false;
            // What the program opens once, for its first editor, is not the first module's.
            connection->sendText("load " + testing_support::testPluginPath("test_editor"));
            awaitText("fixedCompensationDelaySamp");
            connection->sendText("unload");
            connection->sendText("resume");
            awaitText("bypass\nfalse");
        }
        return connection->isOpen();
    }

private:
    void awaitText(const std::string& prefix) {
        for (auto reply = connection->receiveText(20000); reply && reply->rfind(prefix, 0) != 0;)
            reply = connection->receiveText(20000);
    }

    std::unique_ptr<testing_support::ProgramUnderTest> running;
    std::unique_ptr<testing_support::WsClient> connection;
    int uses = 0;
};

std::vector<std::string> split(const std::string& line, char by) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, by);) fields.push_back(field);
    return fields;
}

int runPackages(const std::string& resultsFile, int shard, int shards, const std::vector<std::string>& packages) {
    const Expectations expectations(CORVEL_COMPAT_EXPECTATIONS);
    Host host;
    std::string listed;
    if (host.ready(true) && host.client().sendText("scanVSTs")) listed = host.client().receiveText(60000).value_or("");
    std::ofstream results(resultsFile);
    int unexpected = 0, index = 0, tried = 0;
    for (const std::string& package : packages) {
        for (const std::string& path : commandLines("dpkg -L " + package + " | grep -E '/(lx)?vst/.*\\.so$' | sort")) {
            if (index++ % shards != shard - 1) continue;
            ++tried;
            const Expectation expectation = expectations.forPath(path);
            std::map<std::string, Outcome> outcome;
            std::string mismatch;
            for (int attempt = 0; attempt < 2; ++attempt) {
                outcome = host.ready(attempt > 0) ? PluginCheck(host.program(), host.client(), path, expectation).run()
                                                  : std::map<std::string, Outcome>{{"load", {"fails", "the program did not start"}}};
                if (listed.find("\"" + path + "\"") == std::string::npos) outcome["load"] = {"fails", "not listed by scanVSTs"};
                mismatch.clear();
                for (const std::string& aspect : aspects)
                    if (outcome[aspect].status != expectation.expected(aspect) && outcome["load"].status == "ok")
                        mismatch += " " + aspect + ": " + outcome[aspect].status + " (" + outcome[aspect].detail + "), expected " + expectation.expected(aspect) + ";";
                if (outcome["load"].status != expectation.expected("load"))
                    mismatch += " load: " + outcome["load"].status + " (" + outcome["load"].detail + ");";
                if (mismatch.empty()) break;
            }
            std::cout << (mismatch.empty() ? "[ as expected ] " : "[ UNEXPECTED  ] ") << path << mismatch << std::endl;
            unexpected += !mismatch.empty();
            results << package << '\t' << path.substr(path.rfind('/') + 1) << '\t' << expectation.kind;
            for (const std::string& aspect : aspects) results << '\t' << outcome[aspect].status << '|' << outcome[aspect].detail;
            results << '\t' << expectation.note << '\n';
        }
    }
    std::cout << tried << " modules, " << unexpected << " not as expected\n";
    return tried > 0 && unexpected == 0 ? 0 : 1;
}

std::string cell(const std::string& result) {
    const auto bar = result.find('|');
    const std::string status = result.substr(0, bar), detail = result.substr(bar + 1);
    if (status == "ok") return detail.empty() ? "yes" : "yes, " + detail;
    if (status == "fails") return "no";
    return detail.empty() ? "—" : "— (" + detail + ")";
}

int writeTable(const std::string& out, const std::vector<std::string>& inputs) {
    std::map<std::string, std::vector<std::vector<std::string>>> rows;
    for (const std::string& input : inputs) {
        std::ifstream in(input);
        for (std::string line; std::getline(in, line);) rows[split(line, '\t')[0]].push_back(split(line, '\t'));
    }
    if (rows.empty()) return 1;
    std::ofstream md(out);
    md << "# Plug-in compatibility\n\nGenerated by `tests/compat/make-table.sh` from the compatibility suite\n"
          "(`ctest -L compat`); do not edit by hand. Every VST 2 module that the Debian packages below\n"
          "install goes through a fresh `corvel-vst-remote`, over its WebSocket as a client would, with\n"
          "editors on Xvfb.\n\n"
          "- **Load**: listed by \"scanVSTs\", \"load\" answers \"ready\" and the latency.\n"
          "- **Audio**: an impulse, silence and a 440 Hz sine come back finite, whole and as the kind\n"
          "  should (an effect sounds on both sides, a reverb leaves a tail, an analyzer passes the\n"
          "  input unchanged, an instrument without notes adds nothing, a generator sounds).\n"
          "- **MIDI**: an instrument sounds on both sides after a note-on and decays after the note-off.\n"
          "- **Rate & size**: still working at 1024 frames, at 44.1 kHz and at 64 frames.\n"
          "- **State**: where the plug-in offers chunks, the state given back with \"setState\" and\n"
          "  \"resume\" reads back the same.\n"
          "- **Editor**: shown with content, closes, and comes back with \"showGui\".\n"
          "- **Unload**: the module goes, and with it every thread and open file it made.\n\n"
          "\"—\" means the column does not apply.\n\nPackages:";
    const char* separator = " ";
    for (const auto& [package, list] : rows) {
        md << separator << '`' << package << "` " << commandLines("dpkg-query -W -f='${Version}' " + package).at(0);
        separator = ", ";
    }
    md << ".\n";
    for (const auto& [package, list] : rows) {
        md << "\n## " << package << "\n\n| Plug-in | Kind | Load | Audio | MIDI | Rate & size | State | Editor | Unload | Notes |\n"
           << "|---|---|---|---|---|---|---|---|---|---|\n";
        for (const auto& row : list) {
            md << "| `" << row[1] << "` | " << row[2];
            std::string notes = row.size() > 10 ? row[10] : "";
            for (std::size_t i = 3; i < 10; ++i) {
                md << " | " << cell(row[i]);
                if (row[i].rfind("fails|", 0) == 0) notes += " " + aspects[i - 3] + ": " + row[i].substr(6) + ".";
            }
            md << " | " << notes << " |\n";
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 2 && args[0] == "--table")
        return writeTable(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
    if (!std::getenv("DISPLAY") || !*std::getenv("DISPLAY")) {
        std::cout << "needs an X display: skipped\n";
        return 77;
    }
    std::string results = "/dev/null";
    int shard = 1, shards = 1;
    std::vector<std::string> packages;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--results" && i + 1 < args.size()) results = args[++i];
        else if (args[i] == "--shard" && i + 1 < args.size()) std::sscanf(args[++i].c_str(), "%d/%d", &shard, &shards);
        else packages.push_back(args[i]);
    }
    return runPackages(results, shard, shards, packages);
}
