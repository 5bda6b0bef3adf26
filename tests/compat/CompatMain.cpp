// The compatibility runner: every VST 2 plug-in of the named Debian packages
// through the real program, one program instance for many plug-ins, a fresh
// one after a crash or a hang. Exits 0 when every plug-in did what the list
// in plugins.conf expects of it.
//
//   compat_runner [--manifest FILE] [--results FILE] [--shard I/N] [--only GLOB] PACKAGE...
//   compat_runner --table OUT.md RESULTS...
//
// Without an X display it skips (status 77): it opens every editor.
#include <fnmatch.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "HostSession.h"
#include "Manifest.h"
#include "PluginCatalog.h"
#include "PluginDrive.h"
#include "ProcessStats.h"
#include "ResultTable.h"
#include "Results.h"

using namespace compat;

namespace {

constexpr int descriptorBudget = 64;
constexpr int skipped = 77;  // CTest's SKIP_RETURN_CODE for this suite

struct Options {
    std::string manifest = CORVEL_COMPAT_MANIFEST;
    std::string results;
    std::string only;
    int shard = 1;
    int shards = 1;
    std::vector<std::string> packages;
};

int usage() {
    std::cerr << "usage: compat_runner [--manifest FILE] [--results FILE] [--shard I/N] "
                 "[--only GLOB] PACKAGE...\n"
                 "       compat_runner --table OUT.md RESULTS...\n";
    return 2;
}

// Every aspect against what the list expects; mismatches in both
// directions count, so the table never claims less or more than is true.
std::string judge(const PluginResult& result, const Expectation& expectation) {
    std::string verdict;
    for (Aspect aspect : allAspects) {
        const Status expected = expectation.expected(aspect);
        const Status actual = result[aspect].status;
        const std::string& cause = expectation.causes[static_cast<std::size_t>(aspect)];
        const bool causeMatters = expected == Status::fails && !cause.empty();
        if (expected == actual && (!causeMatters || cause == result[aspect].cause)) continue;
        if (!verdict.empty()) verdict += "; ";
        verdict += std::string(aspectName(aspect)) + " expected " + statusName(expected) +
                   (causeMatters ? " (" + cause + ")" : "") + ", got " + statusName(actual) + (result[aspect].detail.empty() ? "" : " (" + result[aspect].detail + ")");
    }
    return verdict;
}

void report(const PluginResult& result) {
    std::cout << (result.verdict.empty() ? "[ as expected ] " : "[ UNEXPECTED  ] ") << result.file
              << " (" << result.kind << ", " << static_cast<int>(result.seconds * 1000) << " ms)\n";
    for (Aspect aspect : allAspects) {
        const Outcome& outcome = result[aspect];
        std::cout << "    " << aspectName(aspect) << ": " << statusName(outcome.status)
                  << (outcome.detail.empty() ? "" : " - " + outcome.detail) << " ["
                  << result.milliseconds[static_cast<std::size_t>(aspect)] << " ms]\n";
    }
    if (!result.verdict.empty()) std::cout << "    => " << result.verdict << "\n";
    std::cout.flush();
}

int writeTableFrom(const Manifest& manifest, const std::string& out,
                   const std::vector<std::string>& inputs) {
    std::vector<PluginResult> results;
    std::set<std::string> names;
    for (const std::string& input : inputs) {
        for (PluginResult& result : readResults(input)) {
            names.insert(result.package);
            results.push_back(std::move(result));
        }
    }
    if (results.empty()) {
        std::cerr << "no results in the given files\n";
        return 1;
    }
    std::vector<PackageInfo> packages;
    for (const std::string& name : names)
        packages.push_back({name, packageVersion(name), manifest.packageNote(name)});
    std::ofstream file(out);
    writeTable(file, packages, results);
    std::cout << "wrote " << out << " (" << results.size() << " modules)\n";
    return file ? 0 : 1;
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        const bool hasValue = i + 1 < argc;
        if (word == "--manifest" && hasValue) {
            options.manifest = argv[++i];
        } else if (word == "--results" && hasValue) {
            options.results = argv[++i];
        } else if (word == "--only" && hasValue) {
            options.only = argv[++i];
        } else if (word == "--shard" && hasValue) {
            if (std::sscanf(argv[++i], "%d/%d", &options.shard, &options.shards) != 2 ||
                options.shards < 1 || options.shard < 1 || options.shard > options.shards)
                return false;
        } else if (word.rfind("--", 0) == 0) {
            return false;
        } else {
            options.packages.push_back(word);
        }
    }
    return !options.packages.empty();
}

}  // namespace

int main(int argc, char** argv) {
    const bool table = argc >= 3 && std::string(argv[1]) == "--table";
    Options options;
    if (!table && !parse(argc, argv, options)) return usage();

    Manifest manifest;
    std::string error;
    if (!manifest.read(options.manifest, error)) {
        std::cerr << error << "\n";
        return 2;
    }
    if (table) return writeTableFrom(manifest, argv[2], std::vector<std::string>(argv + 3, argv + argc));
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        std::cerr << "skipped: the compatibility suite opens editors, it needs an X server "
                     "(run it under xvfb-run)\n";
        return skipped;
    }

    std::vector<CatalogEntry> entries;
    for (const std::string& package : options.packages) {
        const auto found = packagePlugins(package, error);
        if (found.empty()) {
            std::cerr << error << "\n";
            return 2;
        }
        entries.insert(entries.end(), found.begin(), found.end());
    }
    std::vector<CatalogEntry> mine;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (static_cast<int>(i % options.shards) != options.shard - 1) continue;
        if (!options.only.empty() && fnmatch(options.only.c_str(), entries[i].file.c_str(), 0) != 0)
            continue;
        mine.push_back(entries[i]);
    }

    std::vector<PluginResult> results;
    std::unique_ptr<HostSession> session;
    int sessions = 0;
    for (const CatalogEntry& entry : mine) {
        const Expectation expectation = manifest.lookup(entry.path);
        PluginResult result;
        result.package = entry.package;
        result.file = entry.file;
        result.path = entry.path;
        result.kind = expectation.kind;
        result.note = expectation.note;
        const auto started = std::chrono::steady_clock::now();
        if (!session) {
            session = std::make_unique<HostSession>(true);
            ++sessions;
            if (!session->start(error)) {
                std::cerr << "cannot start the program: " << error << "\n";
                return 2;
            }
        }
        PluginDrive drive(*session, entry, expectation, result);
        try {
            drive.run();
        } catch (const SessionBroken& failure) {
            result[drive.stage()] = Outcome{Status::fails, failure.what(), "broken"};
            std::cout << "    program output on standard error:\n" << session->errors() << "\n";
            session.reset();  // the next plug-in gets a fresh program
        }
        // Plug-ins that keep X connections after unload would otherwise use up
        // the X server's clients, and the ones after them could not open.
        if (session && readProcessStats(session->pid()).descriptors > descriptorBudget) {
            std::cout << "    (a new program for the next plug-ins: too many files left open)\n";
            session.reset();
        }
        result.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        result.verdict = judge(result, expectation);
        report(result);
        results.push_back(std::move(result));
    }
    session.reset();

    if (!options.results.empty()) {
        std::ofstream(options.results, std::ios::trunc);
        appendResults(options.results, results);
    }
    int unexpected = 0;
    for (const PluginResult& result : results) unexpected += !result.verdict.empty();
    std::cout << results.size() << " plug-ins, " << sessions << " program start(s), " << unexpected
              << " not as expected\n";
    return unexpected == 0 ? 0 : 1;
}
