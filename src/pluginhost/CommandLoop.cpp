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
                kept.forgetAll();
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
        case MessageKind::parameters:
            return answer<ParametersRequest>(message, [this](const ParametersRequest&) {
                ParametersResult result;
                result.parameters = slot.parameters();
                return result;
            });
        case MessageKind::parameterDisplay:
            return answer<ParameterDisplayRequest>(message,
                                                   [this](const ParameterDisplayRequest& request) {
                DisplayResult result;
                result.display = slot.parameterDisplay(request.index, request.value).value_or("");
                return result;
            });
        case MessageKind::setParameter:
            return answer<SetParameterRequest>(message, [this](const SetParameterRequest& request) {
                Accepted result;
                result.ok = slot.setParameter(request.index, request.value);
                if (result.ok) kept.noteValue(request.index, request.value);
                return result;
            });
        case MessageKind::programs:
            return answer<ProgramsRequest>(message, [this](const ProgramsRequest&) {
                return slot.programs().value_or(ProgramsResult{});
            });
        case MessageKind::setProgram:
            return answer<SetProgramRequest>(message, [this](const SetProgramRequest& request) {
                Accepted result;
                result.ok = slot.setProgram(request.index);
                if (result.ok) kept.noteProgram(request.index);
                return result;
            });
        case MessageKind::setProgramName:
            return answer<SetProgramNameRequest>(message,
                                                 [this](const SetProgramNameRequest& request) {
                slot.setProgramName(request.name);
                return Done{};
            });
        case MessageKind::setOffline:
            return answer<SetOfflineRequest>(message, [this](const SetOfflineRequest& request) {
                slot.setOffline(request.offline);
                return Done{};
            });
        default:
            return false;
    }
}
