#include "pluginhost/CommandLoop.h"

#include <optional>

using namespace bridge;

namespace {

// The answer to a request that reports nothing but the condition, once
// work has run.
template <class Work>
auto doneAfter(Work work) {
    return [work](const auto&) {
        work();
        return Done{};
    };
}

}  // namespace

void CommandLoop::run() {
    PipeMessage message;
    while (pipe.receive(message, -1) == CommandPipe::Read::message && handle(message)) {
    }
    onGuiThread([this] { slot.unload(); });
    gui.quit();
}

template <class Work>
void CommandLoop::onGuiThread(Work work) {
    gui.runAndWait(work);
}

template <class Request, class Run>
bool CommandLoop::answer(const PipeMessage& message, Run run) {
    const std::optional<Request> request = decodeAs<Request>(message);
    if (!request) return false;
    typename Request::Reply reply = run(*request);
    reply.condition = slot.condition();
    return send(pipe, reply);
}

bool CommandLoop::handle(const PipeMessage& message) {
    switch (static_cast<MessageKind>(message.kind)) {
        case MessageKind::load:
            return answer<LoadRequest>(message, [this](const LoadRequest& request) {
                LoadResult result;
                onGuiThread([&] { result = slot.load(request.path, request.uniqueId); });
                return result;
            });
        case MessageKind::unload:
            return answer<UnloadRequest>(
                message, doneAfter([this] { onGuiThread([this] { slot.unload(); }); }));
        case MessageKind::getState:
            return answer<GetStateRequest>(message, [this](const GetStateRequest&) {
                std::optional<StateResult> result;
                onGuiThread([&] { result = slot.readState(); });
                return result.value_or(StateResult{});
            });
        case MessageKind::setState:
            return answer<SetStateRequest>(message, [this](const SetStateRequest& request) {
                onGuiThread([&] {
                    slot.restoreState(reinterpret_cast<const uint8_t*>(request.blob.data()),
                                      request.blob.size());
                });
                return Done{};
            });
        case MessageKind::showEditor:
            return answer<ShowEditorRequest>(
                message, doneAfter([this] { onGuiThread([this] { slot.showEditor(); }); }));
        case MessageKind::closeEditor:
            return answer<CloseEditorRequest>(
                message, doneAfter([this] { onGuiThread([this] { slot.closeEditor(); }); }));
        case MessageKind::suspend:
            return answer<SuspendRequest>(message, doneAfter([this] { slot.suspend(); }));
        case MessageKind::resume:
            return answer<ResumeRequest>(message, doneAfter([this] { slot.resume(); }));
        case MessageKind::setBlockSize:
            return answer<SetBlockSizeRequest>(message, [this](const SetBlockSizeRequest& request) {
                slot.setBlockSize(request.frames);
                return Done{};
            });
        case MessageKind::setSampleRate:
            return answer<SetSampleRateRequest>(message,
                                                [this](const SetSampleRateRequest& request) {
                slot.setSampleRate(request.rate);
                return Done{};
            });
        default:
            return false;
    }
}
