#include "pluginhost/Probe.h"

#include "dsp/ModuleProbe.h"
#include "host/CatalogueEntry.h"

namespace {

std::string lineOf(const CatalogueEntry& entry) {
    return toJson(entry).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace

int runProbe(const std::string& path,
             const std::function<void(const std::string& line)>& writeLine) {
    const std::string refusal =
        Vexa::DSP::probeModule(path, [&](const Vexa::DSP::PluginFacts& facts) {
            CatalogueEntry entry;
            entry.path = path;
            entry.facts = facts;
            writeLine(lineOf(entry));
        });
    if (!refusal.empty())
        writeLine(
            lineOf(CatalogueEntry::failed(path, CatalogueEntry::Outcome::notAPlugin, refusal)));
    return 0;
}
