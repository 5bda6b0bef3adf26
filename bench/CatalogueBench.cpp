// The plug-in catalogue's benchmark: the first catalogue of the plug-in
// folders with an empty cache, rescans with nothing changed, and what one
// probe of each module costs on its own. Runs the program's own service and
// its probe processes (corvel-plugin-host, beside this executable).
//
//   corvel-bench-catalogue [--probes N] [--rescans N] [FOLDER...]
//
// The folders replace the default ones (as VST_PATH does); without any,
// Debian's /usr/lib/vst and /usr/lib/lxvst, where the compatibility suite's
// modules are.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <numeric>
#include <string>
#include <vector>

#include "host/Catalogue.h"
#include "host/ChildProcess.h"
#include "host/PluginHostChoice.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<CatalogueEntry> catalogueOnce(const std::filesystem::path& cacheFile, unsigned probes) {
    Catalogue catalogue(Catalogue::Options{cacheFile, probes});
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<CatalogueEntry> entries;
    bool done = false;
    catalogue.request(
        "", [](std::size_t, std::size_t, const std::string&) {},
        [&](const std::vector<CatalogueEntry>& read) {
        std::lock_guard<std::mutex> lock(mutex);
        entries = read;
        done = true;
        arrived.notify_all();
        });
    std::unique_lock<std::mutex> lock(mutex);
    arrived.wait(lock, [&] { return done; });
    return entries;
}

// One probe alone, start to end, as the service runs it.
double probeAlone(const std::string& path) {
    const auto start = Clock::now();
    std::unique_ptr<ChildProcess> probe =
        ChildProcess::startProbe(choosePluginHost(path).executable, path);
    if (!probe) return -1;
    std::string output;
    while (probe->readOutput(output, 1000) && secondsSince(start) < 10) {
    }
    probe->waitEnded(10000);
    return secondsSince(start);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    unsigned probes = 2;
    int rescans = 5;
    std::string folders;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--probes") && i + 1 < argc) {
            probes = static_cast<unsigned>(std::atoi(argv[++i]));
        } else if (!std::strcmp(argv[i], "--rescans") && i + 1 < argc) {
            rescans = std::atoi(argv[++i]);
        } else {
            folders += (folders.empty() ? "" : ":") + std::string(argv[i]);
        }
    }
    setenv("VST_PATH", folders.empty() ? "/usr/lib/vst:/usr/lib/lxvst" : folders.c_str(), 1);
    char name[] = "/tmp/corvel-bench-catalogue-XXXXXX";
    if (!mkdtemp(name)) return 1;
    const std::filesystem::path cacheFile = std::filesystem::path(name) / "catalogue.json";

    auto start = Clock::now();
    const std::vector<CatalogueEntry> entries = catalogueOnce(cacheFile, probes);
    const double first = secondsSince(start);
    std::map<std::string, int> modules;
    std::map<std::string, int> statuses;
    for (const CatalogueEntry& entry : entries) {
        ++modules[entry.path];
        ++statuses[toJson(entry).value("status", "")];
    }

    std::vector<double> rescanTimes;
    for (int i = 0; i < rescans; ++i) {
        start = Clock::now();
        const bool same = catalogueOnce(cacheFile, probes).size() == entries.size();
        rescanTimes.push_back(secondsSince(start));
        if (!same) std::fprintf(stderr, "rescan %d gave another number of entries\n", i);
    }

    std::vector<double> alone;
    std::string slowest;
    for (const auto& [path, count] : modules) {
        alone.push_back(probeAlone(path));
        if (alone.back() >= *std::max_element(alone.begin(), alone.end())) slowest = path;
    }

    std::printf("modules %zu, entries %zu:", modules.size(), entries.size());
    for (const auto& [status, count] : statuses) std::printf(" %s %d", status.c_str(), count);
    std::printf("\nfirst catalogue, %u probes at once      %8.2f s\n", probes, first);
    if (!rescanTimes.empty())
        std::printf("rescan, nothing changed (median of %d) %8.3f s (slowest %.3f s)\n", rescans,
                    median(rescanTimes), *std::max_element(rescanTimes.begin(), rescanTimes.end()));
    if (!alone.empty())
        std::printf("one probe alone: median %.3f s, slowest %.3f s (%s), all in turn %.2f s\n",
                    median(alone), *std::max_element(alone.begin(), alone.end()), slowest.c_str(),
                    std::accumulate(alone.begin(), alone.end(), 0.0));
    std::filesystem::remove_all(name);
    return 0;
}
