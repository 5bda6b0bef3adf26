// The typed messages between the program and a plug-in process. Each request
// names its one reply type; both travel on the command pipe as a kind and a
// payload that only PluginMessages.cpp writes and reads. Fields are of fixed
// width, so a plug-in process of either word size reads them alike.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bridge/CommandPipe.h"

namespace bridge {

enum class MessageKind : uint32_t {
    // Requests: the program to the plug-in process.
    load = 1,
    unload,
    getState,
    setState,
    showEditor,
    closeEditor,
    suspend,
    resume,
    setBlockSize,
    setSampleRate,
    parameters,
    parameterDisplay,
    setParameter,
    programs,
    setProgram,
    setProgramName,
    setOffline,
    // Replies: the plug-in process to the program, one per request.
    done = 100,
    loadResult,
    stateResult,
    parametersResult,
    displayResult,
    programsResult,
    accepted,
    // Events: the plug-in process to the program, whenever they happen.
    pluginEvent = 200,
};

// Read by plug-in processes of both word sizes: four bytes on the pipe.
static_assert(sizeof(MessageKind) == sizeof(uint32_t), "a message kind's width");

// The plug-in's condition after a request, carried by every reply, so the
// program knows what a relaunch must bring back.
struct Condition {
    bool editorOpen = false;
    bool suspended = false;
};

struct Done {
    static constexpr MessageKind kind = MessageKind::done;
    Condition condition;
};

// Why a load failed, for clients that are told.
enum class LoadFailure : uint32_t {
    none,
    notFound,           // no file at the path
    notAPlugin,         // no module with a VST 2 entry point
    wrongArchitecture,  // a module for another machine
    refused,            // the plug-in would not open
    crashed,            // its process was lost while opening
    timeout,            // its process did not answer in time
};

struct Pin {
    std::string label;
    bool stereo = false;  // the first channel of a stereo pair
};

struct LoadResult {
    static constexpr MessageKind kind = MessageKind::loadResult;
    bool ok = false;
    int32_t latency = 0;  // samples; read after the plug-in was switched on
    int32_t inputs = 0;
    int32_t outputs = 0;
    int32_t parameters = 0;
    int32_t programs = 0;
    std::vector<Pin> inputPins;  // empty when the plug-in names none
    std::vector<Pin> outputPins;
    std::string name;  // the plug-in's own, or empty
    LoadFailure failure = LoadFailure::none;
    std::string reason;  // why it failed, for the user; empty when ok
    Condition condition;
};

struct StateResult {
    static constexpr MessageKind kind = MessageKind::stateResult;
    bool ok = false;    // false: the plug-in has no state to give
    bool chunk = true;  // the plug-in's chunk; else its parameter values and program
    std::string blob;
    Condition condition;
};

struct ParameterInfo {
    int32_t index = 0;
    std::string name;
    std::string label;  // its unit
    std::string display;
    float value = 0.0f;
    bool automatable = false;
    bool isSwitch = false;
    bool isInteger = false;  // then between minimum and maximum
    int32_t minimum = 0;
    int32_t maximum = 0;
    std::string category;
};

struct ParametersResult {
    static constexpr MessageKind kind = MessageKind::parametersResult;
    std::vector<ParameterInfo> parameters;
    Condition condition;
};

struct DisplayResult {
    static constexpr MessageKind kind = MessageKind::displayResult;
    std::string display;
    Condition condition;
};

struct ProgramsResult {
    static constexpr MessageKind kind = MessageKind::programsResult;
    std::vector<std::string> names;
    int32_t current = 0;
    Condition condition;
};

// The answer to a request the plug-in may not take (an index out of range).
struct Accepted {
    static constexpr MessageKind kind = MessageKind::accepted;
    bool ok = false;
    Condition condition;
};

struct ParameterDisplayRequest {
    static constexpr MessageKind kind = MessageKind::parameterDisplay;
    using Reply = DisplayResult;
    int32_t index = 0;
    float value = 0.0f;
};

struct SetParameterRequest {
    static constexpr MessageKind kind = MessageKind::setParameter;
    using Reply = Accepted;
    int32_t index = 0;
    float value = 0.0f;
};

struct SetProgramRequest {
    static constexpr MessageKind kind = MessageKind::setProgram;
    using Reply = Accepted;
    int32_t index = 0;
};

struct SetProgramNameRequest {
    static constexpr MessageKind kind = MessageKind::setProgramName;
    using Reply = Done;
    std::string name;
};

struct SetOfflineRequest {
    static constexpr MessageKind kind = MessageKind::setOffline;
    using Reply = Done;
    bool offline = false;
};

// What the plug-in reported, unasked: a parameter's change with the text it
// now shows, a touch, a change of the whole set, or new channels and
// latency (ioChanged, with the three counts).
struct PluginEvent {
    static constexpr MessageKind kind = MessageKind::pluginEvent;
    enum class Kind : uint32_t { change, begin, end, setChanged, ioChanged };
    Kind what = Kind::change;
    int32_t index = 0;
    float value = 0.0f;
    std::string display;
    int32_t inputs = 0;
    int32_t outputs = 0;
    int32_t latency = 0;
};

struct LoadRequest {
    static constexpr MessageKind kind = MessageKind::load;
    using Reply = LoadResult;
    std::string path;
    // For a shell module, which of its plug-ins: the id it lists it under.
    std::optional<int32_t> uniqueId = std::nullopt;
};

struct SetStateRequest {
    static constexpr MessageKind kind = MessageKind::setState;
    using Reply = Done;
    std::string blob;
};

struct SetBlockSizeRequest {
    static constexpr MessageKind kind = MessageKind::setBlockSize;
    using Reply = Done;
    uint32_t frames = 0;
};

struct SetSampleRateRequest {
    static constexpr MessageKind kind = MessageKind::setSampleRate;
    using Reply = Done;
    uint32_t rate = 0;
};

// The requests that carry nothing but their kind.
template <MessageKind Kind, class ReplyType>
struct PlainRequest {
    static constexpr MessageKind kind = Kind;
    using Reply = ReplyType;
};
using UnloadRequest = PlainRequest<MessageKind::unload, Done>;
using GetStateRequest = PlainRequest<MessageKind::getState, StateResult>;
using ShowEditorRequest = PlainRequest<MessageKind::showEditor, Done>;
using CloseEditorRequest = PlainRequest<MessageKind::closeEditor, Done>;
using SuspendRequest = PlainRequest<MessageKind::suspend, Done>;
using ResumeRequest = PlainRequest<MessageKind::resume, Done>;
using ParametersRequest = PlainRequest<MessageKind::parameters, ParametersResult>;
using ProgramsRequest = PlainRequest<MessageKind::programs, ProgramsResult>;

// Each message's payload. encode never fails; decode is false for a payload
// that is not exactly one message of that type, as a broken or hostile peer
// may send.
std::string encode(const Done& message);
std::string encode(const LoadResult& message);
std::string encode(const StateResult& message);
std::string encode(const LoadRequest& message);
std::string encode(const SetStateRequest& message);
std::string encode(const SetBlockSizeRequest& message);
std::string encode(const SetSampleRateRequest& message);
std::string encode(const ParametersResult& message);
std::string encode(const DisplayResult& message);
std::string encode(const ProgramsResult& message);
std::string encode(const Accepted& message);
std::string encode(const ParameterDisplayRequest& message);
std::string encode(const SetParameterRequest& message);
std::string encode(const SetProgramRequest& message);
std::string encode(const SetProgramNameRequest& message);
std::string encode(const PluginEvent& message);
std::string encode(const SetOfflineRequest& message);
template <MessageKind Kind, class ReplyType>
std::string encode(const PlainRequest<Kind, ReplyType>&) {
    return {};
}

bool decode(const std::string& payload, Done& message);
bool decode(const std::string& payload, LoadResult& message);
bool decode(const std::string& payload, StateResult& message);
bool decode(const std::string& payload, LoadRequest& message);
bool decode(const std::string& payload, SetStateRequest& message);
bool decode(const std::string& payload, SetBlockSizeRequest& message);
bool decode(const std::string& payload, SetSampleRateRequest& message);
bool decode(const std::string& payload, ParametersResult& message);
bool decode(const std::string& payload, DisplayResult& message);
bool decode(const std::string& payload, ProgramsResult& message);
bool decode(const std::string& payload, Accepted& message);
bool decode(const std::string& payload, ParameterDisplayRequest& message);
bool decode(const std::string& payload, SetParameterRequest& message);
bool decode(const std::string& payload, SetProgramRequest& message);
bool decode(const std::string& payload, SetProgramNameRequest& message);
bool decode(const std::string& payload, PluginEvent& message);
bool decode(const std::string& payload, SetOfflineRequest& message);
template <MessageKind Kind, class ReplyType>
bool decode(const std::string& payload, PlainRequest<Kind, ReplyType>&) {
    return payload.empty();
}

template <class Message>
bool send(CommandPipe& pipe, const Message& message) {
    const std::string payload = encode(message);
    return pipe.send(static_cast<uint32_t>(Message::kind), payload.data(), payload.size());
}

// The message's typed form, when it is one of that type.
template <class Message>
std::optional<Message> decodeAs(const PipeMessage& raw) {
    Message message;
    if (raw.kind != static_cast<uint32_t>(Message::kind) || !decode(raw.payload, message))
        return std::nullopt;
    return message;
}

}  // namespace bridge
