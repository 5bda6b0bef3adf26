// Protocol 2's parameters and programs: the requests that read and set
// them, and the events that tell the client what the plug-in did on its own.
#include <cmath>

#include "host/Session.h"

using nlohmann::json;

namespace {

json describe(const bridge::ParameterInfo& info) {
    json entry = {{"index", info.index},
                  {"name", info.name},
                  {"label", info.label},
                  {"display", info.display},
                  {"value", info.value},
                  {"automatable", info.automatable},
                  {"steps", 0},
                  {"switch", info.isSwitch},
                  {"integer", info.isInteger},
                  {"category", info.category}};
    if (info.isSwitch) entry["steps"] = 2;
    if (info.isInteger) {
        entry["min"] = info.minimum;
        entry["max"] = info.maximum;
        entry["steps"] = static_cast<int64_t>(info.maximum) - info.minimum + 1;
    }
    return entry;
}

// An index of 0 or more that fits the plug-in's numbering.
bool readIndex(const json& value, int32_t& index) {
    if (!value.is_number_integer()) return false;
    const int64_t number = value.get<int64_t>();
    if (number < 0 || number > INT32_MAX) return false;
    index = static_cast<int32_t>(number);
    return true;
}

bool readValue(const json& value, float& into) {
    if (!value.is_number()) return false;
    const double number = value.get<double>();
    if (!(number >= 0.0 && number <= 1.0)) return false;
    into = static_cast<float>(number);
    return true;
}

const char* gestureOf(bridge::PluginEvent::Kind kind) {
    return kind == bridge::PluginEvent::Kind::begin ? "begin" : "end";
}

}  // namespace

void Session::pluginEvent(const bridge::PluginEvent& event) {
    if (protocol != WireProtocol::version2) return;
    if (event.what == bridge::PluginEvent::Kind::setChanged) return sendParametersChanged();
    if (event.what == bridge::PluginEvent::Kind::ioChanged) {
        return sink->sendText(json({{"event", "ioChanged"},
                                    {"inputs", event.inputs},
                                    {"outputs", event.outputs},
                                    {"latency", event.latency}})
                                  .dump());
    }
    json told = {{"event", "parameter"},
                 {"index", event.index},
                 {"value", std::isfinite(event.value) ? event.value : 0.0f},
                 {"display", event.display}};
    if (event.what != bridge::PluginEvent::Kind::change) told["gesture"] = gestureOf(event.what);
    // A plug-in's text need not be UTF-8; replaced rather than refused.
    sink->sendText(told.dump(-1, ' ', false, json::error_handler_t::replace));
}

void Session::sendParametersChanged() {
    sink->sendText(json({{"event", "parametersChanged"}}).dump());
}

bool Session::handleParameterRequest(uint64_t place, const json& id, const std::string& op,
                                     const json& request) {
    const auto field = [&](const char* name) {
        return request.contains(name) ? request[name] : json();
    };
    const auto noPlugin = [&] { refuseRequest(place, id, "no-plugin", "Load a plug-in first."); };
    int32_t index = 0;
    float value = 0.0f;
    if (op == "parameters") {
        if (!slot->hasPlugin()) return noPlugin(), true;
        json list = json::array();
        for (const bridge::ParameterInfo& info : slot->parameters()) list.push_back(describe(info));
        replies.fill(place, json({{"id", id}, {"ok", true}, {"parameters", list}})
                                .dump(-1, ' ', false, json::error_handler_t::replace));
    } else if (op == "parameterDisplay" || op == "setParameter") {
        if (!readIndex(field("index"), index) || !readValue(field("value"), value)) {
            refuseRequest(place, id, "bad-request",
                          "\"index\" must be a parameter's number and \"value\" 0 to 1.");
            return true;
        }
        if (!slot->hasPlugin()) return noPlugin(), true;
        if (op == "setParameter") {
            if (!slot->setParameter(index, value))
                refuseRequest(place, id, "bad-request", "The plug-in has no such parameter.");
            else answerRequest(place, id);
            return true;
        }
        const auto shown = slot->parameterDisplay(index, value);
        if (!shown) {
            refuseRequest(place, id, "bad-request", "The plug-in has no such parameter.");
            return true;
        }
        replies.fill(place, json({{"id", id}, {"ok", true}, {"display", *shown}})
                                .dump(-1, ' ', false, json::error_handler_t::replace));
    } else if (op == "programs") {
        const auto programs = slot->hasPlugin() ? slot->programs() : std::nullopt;
        if (!programs) return noPlugin(), true;
        replies.fill(place, json({{"id", id},
                                  {"ok", true},
                                  {"programs", programs->names},
                                  {"current", programs->current}})
                                .dump(-1, ' ', false, json::error_handler_t::replace));
    } else if (op == "setProgram") {
        if (!readIndex(field("index"), index)) {
            refuseRequest(place, id, "bad-request", "\"index\" must be a program's number.");
            return true;
        }
        if (!slot->hasPlugin()) return noPlugin(), true;
        if (!slot->setProgram(index)) {
            refuseRequest(place, id, "bad-request", "The plug-in has no such program.");
            return true;
        }
        answerRequest(place, id);
        sendParametersChanged();
    } else if (op == "setProgramName") {
        const json name = field("name");
        if (!name.is_string()) {
            refuseRequest(place, id, "bad-request", "\"name\" must be a text.");
            return true;
        }
        if (!slot->hasPlugin() || !slot->setProgramName(name.get<std::string>()))
            return noPlugin(), true;
        answerRequest(place, id);
    } else {
        return false;
    }
    return true;
}
