// One entry of the plug-in catalogue: a plug-in that a module holds, or a
// module that could not be read and why. The same JSON object travels in a
// probe's output, in the cache file and (through the session) to clients.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "dsp/ModuleProbe.h"

struct CatalogueEntry {
    // Not "Status": Xlib defines that word, and the program includes both.
    enum class Outcome { ok, crashed, hung, notAPlugin };

    std::string path;
    Outcome status = Outcome::ok;
    std::string reason;            // why it is not ok, for the user; empty when ok
    Vexa::DSP::PluginFacts facts;  // when ok

    static CatalogueEntry failed(std::string path, Outcome status, std::string reason);
};

// {"path", "status": "ok", "uniqueId", "name", "vendor", "product",
// "version", "category", "inputs", "outputs", "inputPins", "outputPins"
// ([{"label", "stereo"}]), "midiIn", "midiOut",
// "hasEditor", "parameters", "programs", "latency"}, or for any other status
// {"path", "status": "crashed" | "hung" | "not-a-plugin", "reason"}. Texts a
// plug-in gave that are not UTF-8 are read as Latin-1.
nlohmann::json toJson(const CatalogueEntry& entry);
// What toJson wrote; nothing for an object that is not one entry.
std::optional<CatalogueEntry> entryFromJson(const nlohmann::json& object);

// The outcome's word: ok, crashed, hung or not-a-plugin.
const char* outcomeWord(CatalogueEntry::Outcome outcome);
// The category's word: effect, instrument, analyser, mastering, spatial,
// roomFx, surroundFx, restoration, offline, shell, generator or unknown; a
// synth is an instrument whatever category it declares.
const char* categoryWord(int32_t category, bool synth);
