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

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "Manifest.h"
#include "PluginCatalog.h"
#include "ResultTable.h"
#include "Results.h"
#include "Runner.h"

using namespace compat;

namespace {

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

// A plug-in that did what the list expects gets one line (its details are in
// the results file); one that did not gets every aspect, so that a failure
// stands out in a long log.
void report(const PluginResult& result) {
    std::cout << (result.verdict.empty() ? "[ as expected ] " : "[ UNEXPECTED  ] ") << result.file
              << " (" << result.kind << ", " << static_cast<int>(result.seconds * 1000) << " ms)\n";
    if (!result.verdict.empty()) {
        for (Aspect aspect : allAspects) {
            const Outcome& outcome = result[aspect];
            std::cout << "    " << aspectName(aspect) << ": " << statusName(outcome.status)
                      << (outcome.detail.empty() ? "" : " - " + outcome.detail) << " ["
                      << result.milliseconds[static_cast<std::size_t>(aspect)] << " ms]\n";
        }
        std::cout << "    => " << result.verdict << "\n";
    }
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
    Runner runner;
    for (const CatalogEntry& entry : mine) {
        const Expectation expectation = manifest.lookup(entry.path);
        PluginResult result;
        if (!runner.drive(entry, expectation, result, error)) {
            std::cerr << "cannot start the program: " << error << "\n";
            return 2;
        }
        if (!result.verdict.empty()) {
            // Real plug-ins' timing on a loaded machine varies (editors that
            // open slowly, threads that end late): one more try in a fresh
            // program tells a slip from a fault, and the table says so.
            report(result);
            std::cout << "    (a second try in a fresh program)\n";
            runner.session.reset();
            PluginResult again;
            if (!runner.drive(entry, expectation, again, error)) {
                std::cerr << "cannot start the program: " << error << "\n";
                return 2;
            }
            if (again.verdict.empty())
                again.note = "As expected on a second try; the first: " + result.verdict +
                             (again.note.empty() ? "" : ". " + again.note);
            result = std::move(again);
        }
        report(result);
        results.push_back(std::move(result));
    }
    runner.session.reset();

    if (!options.results.empty()) {
        std::ofstream(options.results, std::ios::trunc);
        appendResults(options.results, results);
    }
    int unexpected = 0;
    for (const PluginResult& result : results) {
        if (result.verdict.empty()) continue;
        ++unexpected;
        std::cout << "not as expected: " << result.file << " => " << result.verdict << "\n";
    }
    std::cout << results.size() << " plug-ins, " << runner.sessions << " program start(s), " << unexpected
              << " not as expected\n";
    return unexpected == 0 ? 0 : 1;
}
