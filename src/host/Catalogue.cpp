#include "host/Catalogue.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "dsp/ModuleJudgement.h"
#include "host/CatalogueFiles.h"
#include "host/ChildProcess.h"
#include "host/PluginHostChoice.h"
#include "scan/PluginScan.h"
#include "text/Utf8.h"

namespace {

// A probe writes a few hundred bytes per plug-in; one that writes this much
// is not a probe any more.
constexpr std::size_t mostOutput = 16 * 1024 * 1024;
// How often a probe thread looks up from its probe's output to check the
// clock and the service's stop.
constexpr int pollMs = 50;

unsigned coreCount() {
    return std::max(1u, std::thread::hardware_concurrency());
}

std::string seconds(std::chrono::milliseconds limit) {
    const auto count = limit.count();
    return count % 1000 == 0 ? std::to_string(count / 1000) + " s" : std::to_string(count) + " ms";
}

// The probe's complete lines, as entries of this path; a line that is not
// one is skipped (the probe writes nothing else, but it is the plug-in's
// process).
std::vector<CatalogueEntry> entriesIn(const std::string& output, const std::string& path) {
    std::vector<CatalogueEntry> entries;
    std::size_t start = 0;
    for (std::size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
        const auto line = nlohmann::json::parse(output.begin() + static_cast<std::ptrdiff_t>(start),
                                                output.begin() + static_cast<std::ptrdiff_t>(end),
                                                nullptr, false);
        std::optional<CatalogueEntry> entry = entryFromJson(line);
        if (!entry) continue;
        entry->path = path;
        entries.push_back(std::move(*entry));
    }
    return entries;
}

}  // namespace

Catalogue::Catalogue() : Catalogue(Options{catalogueCacheLocation()}) {}

Catalogue::Catalogue(const Options& chosen)
    : options{chosen.cacheFile, chosen.probes ? chosen.probes : coreCount(), chosen.probeLimit},
      cache(chosen.cacheFile), worker([this] { run(); }) {}

uint64_t Catalogue::request(const std::string& extraFolder, Progress progress, Reply reply,
                            bool rescan) {
    std::lock_guard<std::mutex> lock(mutex);
    if (stopping) return 0;
    const uint64_t ticket = nextTicket++;
    Asker asker{ticket, std::move(progress), std::move(reply)};
    // Joining the running scan is safe: its entries do not depend on when
    // an asker came.
    if (scanning && current.folder == extraFolder && (current.rescan || !rescan) && !abandoned) {
        current.askers.push_back(std::move(asker));
        return ticket;
    }
    const auto same = std::find_if(waiting.begin(), waiting.end(),
                                   [&](const Scan& scan) { return scan.folder == extraFolder; });
    if (same != waiting.end()) {
        same->rescan = same->rescan || rescan;
        same->askers.push_back(std::move(asker));
    } else {
        waiting.push_back({extraFolder, rescan, {}});
        waiting.back().askers.push_back(std::move(asker));
    }
    changed.notify_all();
    return ticket;
}

bool Catalogue::removeAsker(Scan& scan, uint64_t ticket) {
    const auto before = scan.askers.size();
    scan.askers.erase(std::remove_if(scan.askers.begin(), scan.askers.end(),
                                     [&](const Asker& asker) { return asker.ticket == ticket; }),
                      scan.askers.end());
    return scan.askers.size() != before;
}

void Catalogue::withdraw(uint64_t ticket) {
    std::lock_guard<std::mutex> lock(mutex);
    if (scanning && removeAsker(current, ticket)) {
        if (current.askers.empty()) abandoned = true;
        return;
    }
    for (auto scan = waiting.begin(); scan != waiting.end(); ++scan) {
        if (!removeAsker(*scan, ticket)) continue;
        if (scan->askers.empty()) waiting.erase(scan);
        return;
    }
}

void Catalogue::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        waiting.clear();
        current.askers.clear();
        abandoned = true;
        changed.notify_all();
    }
    if (worker.joinable()) worker.join();
}

void Catalogue::run() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [&] { return stopping || !waiting.empty(); });
        if (stopping) return;
        current = std::move(waiting.front());
        waiting.pop_front();
        scanning = true;
        abandoned = false;
        const std::string folder = current.folder;
        const bool rescan = current.rescan;
        lock.unlock();
        const std::vector<CatalogueEntry> entries = catalogue(folder, rescan);
        lock.lock();
        scanning = false;
        std::vector<Asker> askers = std::move(current.askers);
        current.askers.clear();
        if (abandoned) continue;
        lock.unlock();
        for (const Asker& asker : askers) asker.reply(entries);
        lock.lock();
    }
}

void Catalogue::reportProgress(std::size_t done, std::size_t total, const std::string& path) {
    std::vector<Progress> calls;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const Asker& asker : current.askers) calls.push_back(asker.progress);
    }
    for (const Progress& call : calls) call(done, total, path);
}

std::vector<CatalogueEntry> Catalogue::catalogue(const std::string& folder, bool rescan) {
    std::vector<std::string> paths = findPluginFiles(folder, abandoned);
    // Paths that are not UTF-8 cannot be named to a client.
    paths.erase(std::remove_if(paths.begin(), paths.end(),
                               [](const std::string& path) { return !isValidUtf8(path); }),
                paths.end());
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());

    // The file, not a copy in memory, is the truth: deleting it asks for a
    // full rescan.
    cache.load();
    std::vector<std::vector<CatalogueEntry>> modules(paths.size());
    std::vector<std::optional<CatalogueCache::Stamp>> stamps(paths.size());
    std::vector<std::size_t> unread;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        stamps[i] = CatalogueCache::stampOf(paths[i]);
        if (!stamps[i]) continue;  // gone since the walk
        if (const auto* known = rescan ? nullptr : cache.find(paths[i], *stamps[i])) {
            modules[i] = *known;
        } else {
            unread.push_back(i);
        }
    }
    std::size_t done = paths.size() - unread.size();
    reportProgress(done, paths.size(), {});

    // The probe threads hand each module they read to this thread, which
    // alone touches the cache and calls the askers.
    std::mutex inboxMutex;
    std::condition_variable delivered;
    std::deque<Read> inbox;
    std::size_t running = std::min<std::size_t>(options.probes, unread.size());
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> probes;
    for (std::size_t p = running; p > 0; --p) {
        probes.emplace_back([&] {
            for (std::size_t at; !abandoned && (at = next++) < unread.size();) {
                Read read = readModule(unread[at], paths[unread[at]]);
                std::lock_guard<std::mutex> lock(inboxMutex);
                inbox.push_back(std::move(read));
                delivered.notify_one();
            }
            std::lock_guard<std::mutex> lock(inboxMutex);
            --running;
            delivered.notify_one();
        });
    }
    for (;;) {
        std::unique_lock<std::mutex> lock(inboxMutex);
        delivered.wait(lock, [&] { return !inbox.empty() || running == 0; });
        if (inbox.empty()) break;
        Read read = std::move(inbox.front());
        inbox.pop_front();
        lock.unlock();
        const std::string& path = paths[read.module];
        // Kept even after an abandon: the next scan need not read it again.
        if (read.keep) cache.store(path, *stamps[read.module], read.entries);
        modules[read.module] = std::move(read.entries);
        reportProgress(++done, paths.size(), path);
    }
    for (std::thread& probe : probes) probe.join();

    cache.forgetStale(paths);
    if (cache.changed()) cache.save();
    std::vector<CatalogueEntry> entries;
    for (std::vector<CatalogueEntry>& module : modules)
        for (CatalogueEntry& entry : module) entries.push_back(std::move(entry));
    return entries;
}

Catalogue::Read Catalogue::readModule(std::size_t module, const std::string& path) {
    Read read{module, {}, true};
    // Judged from its bytes first, for the plug-in process that would read
    // it: a file that is no module it can load costs no process, and none
    // of its code runs.
    const PluginHostChoice host = choosePluginHost(path);
    const Vexa::DSP::ModuleJudgement& judgement = host.judgement;
    if (!judgement.ok()) {
        // Gone or unreadable since the walk: worth another look next time.
        read.keep = judgement.verdict != Vexa::DSP::ModuleVerdict::missing &&
                    judgement.verdict != Vexa::DSP::ModuleVerdict::unreadable;
        read.entries.push_back(
            CatalogueEntry::failed(path, CatalogueEntry::Outcome::notAPlugin, judgement.reason));
        return read;
    }
    std::unique_ptr<ChildProcess> probe = ChildProcess::startProbe(host.executable, path);
    if (!probe) {
        read.keep = false;
        read.entries.push_back(CatalogueEntry::failed(path, CatalogueEntry::Outcome::crashed,
                                                      "the plug-in process could not be started"));
        return read;
    }
    const auto deadline = std::chrono::steady_clock::now() + options.probeLimit;
    const auto left = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   deadline - std::chrono::steady_clock::now())
            .count();
    };
    std::string output;
    // Until its output ends; or until it ends, since a process the plug-in
    // started may hold the output open after it.
    while (!stopping && left() > 0 && output.size() <= mostOutput) {
        const int wait = static_cast<int>(std::min<long long>(left(), pollMs));
        if (!probe->readOutput(output, wait) || probe->hasEnded()) break;
    }
    const bool ended = !stopping && output.size() <= mostOutput &&
                       probe->waitEnded(static_cast<int>(std::max<long long>(0, left())));
    // What it wrote just before it ended.
    for (std::size_t before = SIZE_MAX;
         ended && before != output.size() && output.size() <= mostOutput;) {
        before = output.size();
        if (!probe->readOutput(output, 0)) break;
    }
    const bool late = !ended && left() <= 0;
    std::vector<CatalogueEntry> entries = entriesIn(output, path);
    if (!ended) {
        probe->kill();
        probe->waitEnded(-1);
        if (stopping) {
            read.keep = false;
            read.entries.push_back(CatalogueEntry::failed(path, CatalogueEntry::Outcome::crashed,
                                                          "the program stopped while it was read"));
            return read;
        }
        const std::string reason = late ? "no answer within " + seconds(options.probeLimit)
                                        : "it wrote more than any plug-in's description";
        entries.push_back(CatalogueEntry::failed(
            path, late ? CatalogueEntry::Outcome::hung : CatalogueEntry::Outcome::crashed, reason));
    } else if (probe->endReason() != "exit 0" || entries.empty()) {
        entries.push_back(
            CatalogueEntry::failed(path, CatalogueEntry::Outcome::crashed, probe->endReason()));
    }
    read.entries = std::move(entries);
    return read;
}
