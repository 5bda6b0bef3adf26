// Protocol 2 (the "corvel.2" subprotocol): JSON requests with ids and
// replies in their order, events, and audio blocks with a header and typed
// records. docs/protocol.md is its reference.
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Version.h"
#include "bridge/SharedBlock.h"
#include "host/Session.h"

using nlohmann::json;

namespace {

const char* failureCode(bridge::LoadFailure failure) {
    switch (failure) {
        case bridge::LoadFailure::notFound:
            return "not-found";
        case bridge::LoadFailure::notAPlugin:
            return "not-a-plugin";
        case bridge::LoadFailure::wrongArchitecture:
            return "wrong-architecture";
        case bridge::LoadFailure::crashed:
            return "crashed";
        case bridge::LoadFailure::timeout:
            return "timeout";
        case bridge::LoadFailure::none:
        case bridge::LoadFailure::refused:
            break;
    }
    return "refused";
}

// A failed load's reason, a clause as the program's output prints it, as
// the sentence an error message is.
std::string asSentence(std::string reason) {
    if (!reason.empty() && reason[0] >= 'a' && reason[0] <= 'z')
        reason[0] = static_cast<char>(reason[0] - 'a' + 'A');
    if (reason.empty() || reason.back() != '.') reason += '.';
    return reason;
}

// A whole number within the range, or nothing.
std::optional<int64_t> wholeNumber(const json& value, int64_t lowest, int64_t highest) {
    if (!value.is_number_integer()) return std::nullopt;
    const int64_t number = value.get<int64_t>();
    if (number < lowest || number > highest) return std::nullopt;
    return number;
}

// The request's "inputs" and "outputs" over the layout now; nothing when
// either is given and not 1 to 128.
std::optional<bridge::ChannelLayout> layoutOf(const json& request, bridge::ChannelLayout now) {
    for (const char* name : {"inputs", "outputs"}) {
        if (!request.contains(name)) continue;
        const auto count = wholeNumber(request[name], 1, bridge::maxChannels);
        if (!count) return std::nullopt;
        (name[0] == 'i' ? now.inputs : now.outputs) = static_cast<uint32_t>(*count);
    }
    return now;
}

json pinsOf(const std::vector<bridge::Pin>& pins) {
    json list = json::array();
    for (const bridge::Pin& pin : pins)
        list.push_back({{"label", pin.label}, {"stereo", pin.stereo}});
    return list;
}

}  // namespace

void Session::greetVersion2() {
    const json limits = {{"maxBlockFrames", maxBlockSize},
                         {"maxChannels", 128},
                         {"maxMidiEvents", bridge::maxMidiEvents},
                         {"maxParameterChanges", bridge::maxParameterChanges},
                         {"maxTextBytes", 1u << 20},
                         {"maxBinaryBytes", 256u << 20}};
    sink->sendText(
        json({{"event", "hello"}, {"version", CORVEL_VERSION}, {"protocol", 2}, {"limits", limits}})
            .dump());
}

void Session::answerRequest(uint64_t place, const json& id, const json& fields) {
    json reply = {{"id", id}, {"ok", true}};
    if (fields.is_object()) reply.update(fields);
    replies.fill(place, reply.dump());
}

void Session::refuseRequest(uint64_t place, const json& id, const char* code,
                            const std::string& message) {
    replies.fill(
        place, json({{"id", id}, {"ok", false}, {"error", {{"code", code}, {"message", message}}}})
                   .dump());
}

void Session::handleRequest(std::string_view text) {
    const uint64_t place = replies.reserve();
    const json request = json::parse(text.begin(), text.end(), nullptr, false);
    if (!request.is_object()) {
        return refuseRequest(place, nullptr, "bad-request",
                             "A request is one JSON object with an \"id\" and an \"op\".");
    }
    const json id = request.contains("id") && request["id"].is_number() ? request["id"] : json();
    const std::string op =
        request.contains("op") && request["op"].is_string() ? request["op"].get<std::string>() : "";
    if (id.is_null())
        return refuseRequest(place, id, "bad-request", "The request has no numeric \"id\".");
    const auto field = [&](const char* name) {
        return request.contains(name) ? request[name] : json();
    };
    const auto needsPlugin = [&]() {
        if (slot->hasPlugin()) return true;
        refuseRequest(place, id, "no-plugin", "Load a plug-in first.");
        return false;
    };

    if (op == "scan") {
        const json folder = field("folder");
        if (!folder.is_null() && !folder.is_string())
            return refuseRequest(place, id, "bad-request", "\"folder\" must be a text.");
        pendingScan = Pending{place, id};
        startScan(folder.is_string() ? folder.get<std::string>() : std::string());
        if (!scanTicket) pendingScan.reset();  // shutting down: nobody is waiting for it
    } else if (op == "catalogue") {
        const json folder = field("folder");
        const json rescan = field("rescan");
        if ((!folder.is_null() && !folder.is_string()) ||
            (!rescan.is_null() && !rescan.is_boolean())) {
            return refuseRequest(place, id, "bad-request",
                                 "\"folder\" must be a text and \"rescan\" true or false.");
        }
        askCatalogue(place, id, folder.is_string() ? folder.get<std::string>() : std::string(),
                     rescan.is_boolean() && rescan.get<bool>());
    } else if (op == "load") {
        const json path = field("path");
        if (!path.is_string() || path.get<std::string>().empty())
            return refuseRequest(place, id, "bad-request",
                                 "\"path\" must name the plug-in's file.");
        // As the catalogue lists it: a signed 32-bit number.
        const json memberId = field("uniqueId");
        const auto uniqueId = wholeNumber(memberId, INT32_MIN, INT32_MAX);
        if (!memberId.is_null() && !uniqueId) {
            return refuseRequest(place, id, "bad-request",
                                 "\"uniqueId\" must be a plug-in's id as the catalogue lists it.");
        }
        const auto newLayout = layoutOf(request, layout);
        if (!newLayout) {
            return refuseRequest(place, id, "bad-request",
                                 "\"inputs\" and \"outputs\" must be 1 to 128 channels.");
        }
        if (*newLayout != layout) {
            // The plug-in the load replaces is not worth moving to the new layout.
            slot->unloadAndWait();
            setLayout(*newLayout);
        }
        {
            std::lock_guard<std::mutex> lock(pendingMutex);
            pendingLoads.push_back({place, id});
        }
        slot->requestLoad(
            path.get<std::string>(),
            uniqueId ? std::optional<int32_t>(static_cast<int32_t>(*uniqueId)) : std::nullopt);
    } else if (op == "unload") {
        slot->unloadAndWait();  // blocks after the reply find no plug-in
        answerRequest(place, id);
    } else if (op == "configure") {
        const json rate = field("sampleRate");
        const json frames = field("blockSize");
        const json rendering = field("offline");
        const auto newRate = wholeNumber(rate, 1, maxSampleRate);
        const auto newFrames = wholeNumber(frames, minBlockSize, maxBlockSize);
        const auto newLayout = layoutOf(request, layout);
        if ((!rate.is_null() && !newRate) || (!frames.is_null() && !newFrames) || !newLayout ||
            (!rendering.is_null() && !rendering.is_boolean())) {
            return refuseRequest(place, id, "bad-request",
                                 "The sample rate must be 1 to 768000 Hz, the block size 1 to "
                                 "16384 frames, inputs and outputs 1 to 128 channels, and "
                                 "\"offline\" true or false.");
        }
        if (newRate) setSampleRate(static_cast<uint32_t>(*newRate));
        if (newFrames) setBlockSize(static_cast<int32_t>(*newFrames));
        setLayout(*newLayout);
        if (rendering.is_boolean() && rendering.get<bool>() != offline) {
            offline = rendering.get<bool>();
            slot->setOffline(offline);
        }
        answerRequest(place, id,
                      {{"sampleRate", sampleRate},
                       {"blockSize", blockSize},
                       {"inputs", layout.inputs},
                       {"outputs", layout.outputs},
                       {"offline", offline}});
    } else if (op == "suspend" || op == "resume") {
        const bool bypass = op == "suspend";
        bypass ? slot->suspend() : slot->resume();
        answerRequest(place, id, {{"bypassed", bypass}});
    } else if (op == "midi") {
        const json events = field("events");
        std::vector<std::array<int32_t, 4>> valid;
        for (const json& event : events.is_array() ? events : json::array()) {
            if (!event.is_array() || event.size() < 3 || event.size() > 4) break;
            std::array<int32_t, 4> words{};
            bool whole = true;
            for (std::size_t i = 0; i < event.size(); ++i) {
                const auto word = wholeNumber(event[i], 0, i < 3 ? 255 : INT32_MAX);
                whole = whole && word;
                if (word) words[i] = static_cast<int32_t>(*word);
            }
            if (!whole) break;
            valid.push_back(words);
        }
        if (!events.is_array() || valid.size() != events.size()) {
            return refuseRequest(place, id, "bad-request",
                                 "\"events\" must be a list of [status, data1, data2, frame] with "
                                 "bytes 0 to 255 and a frame of 0 or more.");
        }
        for (std::size_t i = 0; i < valid.size() && i < bridge::maxMidiEvents; ++i)
            slot->queueMidi(valid[i].data(), events[i].size());
        answerRequest(place, id);
    } else if (op == "getState") {
        if (!needsPlugin()) return;
        {
            std::lock_guard<std::mutex> lock(pendingMutex);
            pendingState = Pending{place, id};
        }
        slot->requestState();
        std::lock_guard<std::mutex> lock(pendingMutex);
        if (pendingState) {  // the plug-in went before it could be asked
            refuseRequest(place, id, "no-plugin", "Load a plug-in first.");
            pendingState.reset();
        }
    } else if (op == "setState") {
        const auto bytes = wholeNumber(field("bytes"), 0, 256 << 20);
        if (!bytes) {
            return refuseRequest(place, id, "bad-request",
                                 "\"bytes\" must give the size of the state that follows.");
        }
        if (!needsPlugin()) return;
        std::lock_guard<std::mutex> lock(pendingMutex);
        pendingState = Pending{place, id};
        pendingStateBytes = static_cast<uint32_t>(*bytes);
        pendingSetState = true;
    } else if (op == "showEditor") {
        if (!needsPlugin()) return;
        slot->requestEditor();
        answerRequest(place, id);
    } else if (handleParameterRequest(place, id, op, request)) {
    } else if (op == "quit") {
        answerRequest(place, id);
        gui.quit();
    } else {
        refuseRequest(place, id, "bad-request", "There is no operation \"" + op + "\".");
    }
}

void Session::restoreVersion2(const uint8_t* data, std::size_t size) {
    std::optional<Pending> request;
    {
        std::lock_guard<std::mutex> lock(pendingMutex);
        request.swap(pendingState);
    }
    if (!request) return;
    if (size != pendingStateBytes) {
        return refuseRequest(request->place, request->id, "bad-request",
                             "The state that followed was not of the size announced.");
    }
    slot->requestRestore(data, size);
    answerRequest(request->place, request->id);
    sendParametersChanged();
}

void Session::answerLoad(const bridge::LoadResult& result) {
    std::lock_guard<std::mutex> lock(pendingMutex);
    if (pendingLoads.empty()) return;
    const Pending request = pendingLoads.front();
    pendingLoads.pop_front();
    if (!result.ok)
        return refuseRequest(request.place, request.id, failureCode(result.failure),
                             asSentence(result.reason));
    answerRequest(request.place, request.id,
                  {{"latency", result.latency},
                   {"inputs", result.inputs},
                   {"outputs", result.outputs},
                   {"inputPins", pinsOf(result.inputPins)},
                   {"outputPins", pinsOf(result.outputPins)},
                   {"parameters", result.parameters},
                   {"programs", result.programs},
                   {"name", result.name},
                   {"layout", {{"inputs", layout.inputs}, {"outputs", layout.outputs}}}});
}

void Session::crashedVersion2(const std::string& reason) {
    sink->sendText(json({{"event", "crashed"}, {"reason", reason}}).dump());
    // A load under way when the process went down failed with it.
    std::lock_guard<std::mutex> lock(pendingMutex);
    if (pendingLoads.empty()) return;
    const Pending request = pendingLoads.front();
    pendingLoads.pop_front();
    const bool silent = reason.rfind("no answer", 0) == 0;
    refuseRequest(request.place, request.id, silent ? "timeout" : "crashed",
                  "The plug-in " + std::string(silent ? "stopped answering" : "crashed") +
                      " while opening (" + reason + ").");
}
