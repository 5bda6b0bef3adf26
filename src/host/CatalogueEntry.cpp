#include "host/CatalogueEntry.h"

#include <climits>
#include <cstdint>
#include <iterator>
#include <type_traits>

#include "dsp/VST2Interface.h"
#include "text/Utf8.h"

using nlohmann::json;

namespace {

// By PlugCategory's number.
const char* const categoryWords[] = {"unknown",     "effect",  "instrument", "analyser",
                                     "mastering",   "spatial", "roomFx",     "surroundFx",
                                     "restoration", "offline", "shell",      "generator"};

std::optional<CatalogueEntry::Outcome> statusOf(const std::string& word) {
    for (auto status : {CatalogueEntry::Outcome::ok, CatalogueEntry::Outcome::crashed,
                        CatalogueEntry::Outcome::hung, CatalogueEntry::Outcome::notAPlugin})
        if (word == outcomeWord(status)) return status;
    return std::nullopt;
}

// Plug-ins name themselves in whatever their author's editor saved; most
// of those that are not UTF-8 are Latin-1 ("©", "ü").
std::string readable(const std::string& text) {
    if (isValidUtf8(text)) return text;
    std::string decoded;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            decoded += c;
        } else {
            decoded += static_cast<char>(0xC0 | (byte >> 6));
            decoded += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return decoded;
}

template <class Value>
bool read(const json& object, const char* key, Value& value) {
    const auto found = object.find(key);
    if (found == object.end()) return false;
    if constexpr (std::is_same_v<Value, bool>) {
        if (!found->is_boolean()) return false;
    } else if constexpr (std::is_same_v<Value, std::string>) {
        if (!found->is_string()) return false;
    } else {
        if (!found->is_number_integer()) return false;
        const auto number = found->get<int64_t>();
        if (number < INT32_MIN || number > INT32_MAX) return false;
    }
    value = found->get<Value>();
    return true;
}

json pinsJson(const std::vector<Vexa::DSP::PinDescription>& pins) {
    json list = json::array();
    for (const auto& pin : pins)
        list.push_back({{"label", readable(pin.label)}, {"stereo", pin.stereo}});
    return list;
}

// Entries cached before channels had names have none: read as none.
bool readPins(const json& object, const char* key, std::vector<Vexa::DSP::PinDescription>& pins) {
    const auto found = object.find(key);
    if (found == object.end()) return true;
    if (!found->is_array()) return false;
    for (const json& pin : *found) {
        Vexa::DSP::PinDescription named;
        if (!read(pin, "label", named.label) || !read(pin, "stereo", named.stereo)) return false;
        pins.push_back(std::move(named));
    }
    return true;
}

}  // namespace

CatalogueEntry CatalogueEntry::failed(std::string path, Outcome status, std::string reason) {
    CatalogueEntry entry;
    entry.path = std::move(path);
    entry.status = status;
    entry.reason = std::move(reason);
    return entry;
}

const char* outcomeWord(CatalogueEntry::Outcome status) {
    switch (status) {
        case CatalogueEntry::Outcome::ok:
            return "ok";
        case CatalogueEntry::Outcome::crashed:
            return "crashed";
        case CatalogueEntry::Outcome::hung:
            return "hung";
        case CatalogueEntry::Outcome::notAPlugin:
            return "not-a-plugin";
    }
    return "crashed";
}

const char* categoryWord(int32_t category, bool synth) {
    if (synth) return "instrument";
    if (category < 0 || category >= static_cast<int32_t>(std::size(categoryWords)))
        return "unknown";
    return categoryWords[category];
}

json toJson(const CatalogueEntry& entry) {
    json object = {{"path", entry.path}, {"status", outcomeWord(entry.status)}};
    if (entry.status != CatalogueEntry::Outcome::ok) {
        object["reason"] = entry.reason;
        return object;
    }
    const Vexa::DSP::PluginFacts& facts = entry.facts;
    object["uniqueId"] = facts.uniqueId;
    object["name"] = readable(facts.name);
    object["vendor"] = readable(facts.vendor);
    object["product"] = readable(facts.product);
    object["version"] = facts.version;
    object["category"] = categoryWord(facts.category, facts.synth);
    object["inputs"] = facts.inputs;
    object["outputs"] = facts.outputs;
    object["inputPins"] = pinsJson(facts.inputPins);
    object["outputPins"] = pinsJson(facts.outputPins);
    object["midiIn"] = facts.midiIn;
    object["midiOut"] = facts.midiOut;
    object["hasEditor"] = facts.hasEditor;
    object["parameters"] = facts.parameters;
    object["programs"] = facts.programs;
    object["latency"] = facts.latency;
    return object;
}

std::optional<CatalogueEntry> entryFromJson(const json& object) {
    if (!object.is_object()) return std::nullopt;
    CatalogueEntry entry;
    std::string status;
    if (!read(object, "path", entry.path) || !read(object, "status", status)) return std::nullopt;
    const auto known = statusOf(status);
    if (!known) return std::nullopt;
    entry.status = *known;
    if (entry.status != CatalogueEntry::Outcome::ok) {
        if (!read(object, "reason", entry.reason)) return std::nullopt;
        return entry;
    }
    Vexa::DSP::PluginFacts& facts = entry.facts;
    std::string category;
    const bool complete =
        read(object, "uniqueId", facts.uniqueId) && read(object, "name", facts.name) &&
        read(object, "vendor", facts.vendor) && read(object, "product", facts.product) &&
        read(object, "version", facts.version) && read(object, "category", category) &&
        read(object, "inputs", facts.inputs) && read(object, "outputs", facts.outputs) &&
        read(object, "midiIn", facts.midiIn) && read(object, "midiOut", facts.midiOut) &&
        read(object, "hasEditor", facts.hasEditor) &&
        read(object, "parameters", facts.parameters) && read(object, "programs", facts.programs) &&
        read(object, "latency", facts.latency);
    if (!complete || !readPins(object, "inputPins", facts.inputPins) ||
        !readPins(object, "outputPins", facts.outputPins))
        return std::nullopt;
    facts.synth = category == "instrument";
    facts.category =
        facts.synth ? Vexa::DSP::VST2::kPlugCategSynth : Vexa::DSP::VST2::kPlugCategUnknown;
    for (int32_t i = 0; i < static_cast<int32_t>(std::size(categoryWords)); ++i)
        if (category == categoryWords[i]) facts.category = i;
    return entry;
}
