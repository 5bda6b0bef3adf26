// Protocol 2's catalogue: the request, its progress events and its reply,
// the client's text of the entries the Catalogue hands over. A catalogue
// holds no later request back: its reply takes its place in line, and
// blocks and requests go on while the modules are read.
#include <utility>

#include "host/Session.h"

using nlohmann::json;

namespace {

// Every entry has its path, status and reason (empty when ok); one that is
// ok has what the plug-in says about itself besides.
json clientEntry(const CatalogueEntry& entry) {
    // The cache's form, whose texts are already made readable.
    json object = toJson(entry);
    if (!object.contains("reason")) object["reason"] = entry.reason;
    return object;
}

// The catalogue's texts are UTF-8 by the time they arrive (paths that are
// not are left out, plug-ins' names decoded); this keeps a stray byte from
// costing the reply.
std::string textOf(const json& message) {
    return message.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

void Session::askCatalogue(uint64_t place, const json& id, const std::string& folder, bool rescan) {
    {
        std::lock_guard<std::mutex> lock(pendingMutex);
        pendingCatalogues[place] = {id, 0};
    }
    // The catalogue calls back on its own thread, possibly after the
    // connection closed: the session stays until it is withdrawn.
    const auto self = shared_from_this();
    auto progress = [self, place](std::size_t done, std::size_t total, const std::string& path) {
        self->catalogueProgress(place, done, total, path);
    };
    auto reply = [self, place](const std::vector<CatalogueEntry>& entries) {
        self->answerCatalogue(place, entries);
    };
    const uint64_t ticket =
        catalogue.request(folder, std::move(progress), std::move(reply), rescan);
    std::lock_guard<std::mutex> lock(pendingMutex);
    const auto pending = pendingCatalogues.find(place);
    if (pending == pendingCatalogues.end()) return;  // answered already
    if (ticket) {
        pending->second.ticket = ticket;
        return;
    }
    pendingCatalogues.erase(pending);
    refuseRequest(place, id, "busy", "The program is shutting down.");
}

void Session::catalogueProgress(uint64_t place, std::size_t done, std::size_t total,
                                const std::string& path) {
    std::lock_guard<std::mutex> lock(pendingMutex);
    const auto pending = pendingCatalogues.find(place);
    if (pending == pendingCatalogues.end()) return;
    sink->sendText(textOf({{"event", "catalogueProgress"},
                           {"id", pending->second.id},
                           {"done", done},
                           {"total", total},
                           {"path", path}}));
}

void Session::answerCatalogue(uint64_t place, const std::vector<CatalogueEntry>& entries) {
    json id;
    {
        std::lock_guard<std::mutex> lock(pendingMutex);
        const auto pending = pendingCatalogues.find(place);
        if (pending == pendingCatalogues.end()) return;
        id = std::move(pending->second.id);
        pendingCatalogues.erase(pending);
    }
    json plugins = json::array();
    for (const CatalogueEntry& entry : entries) plugins.push_back(clientEntry(entry));
    replies.fill(place, textOf({{"id", id}, {"ok", true}, {"plugins", std::move(plugins)}}));
}

void Session::withdrawCatalogues() {
    std::map<uint64_t, PendingCatalogue> asked;
    {
        std::lock_guard<std::mutex> lock(pendingMutex);
        asked.swap(pendingCatalogues);
    }
    for (const auto& [place, pending] : asked) catalogue.withdraw(pending.ticket);
}
