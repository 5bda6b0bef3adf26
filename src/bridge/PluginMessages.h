// The typed messages between the program and a plug-in process. Each request
// names its one reply type; both travel on the command pipe as a kind and a
// payload that only PluginMessages.cpp writes and reads. Fields are of fixed
// width, so a plug-in process of either word size reads them alike.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

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
    // Replies: the plug-in process to the program, one per request.
    done = 100,
    loadResult,
    stateResult,
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

struct LoadResult {
    static constexpr MessageKind kind = MessageKind::loadResult;
    bool ok = false;
    int32_t latency = 0;  // samples; read after the plug-in was switched on
    int32_t inputs = 0;
    int32_t outputs = 0;
    std::string name;  // the plug-in's own, or empty
    LoadFailure failure = LoadFailure::none;
    std::string reason;  // why it failed, for the user; empty when ok
    Condition condition;
};

struct StateResult {
    static constexpr MessageKind kind = MessageKind::stateResult;
    bool ok = false;   // false: the plug-in has no state to give
    std::string blob;  // the plug-in's chunk
    Condition condition;
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
