#include "shell/GuiDispatch.h"

#include <condition_variable>
#include <memory>
#include <mutex>

#include "host/VST2Host.h"

VST2Host* hostInstance = nullptr;

namespace {

// Never destroyed: a plug-in that calls exit() runs static destructors
// while a worker may still wait here, and destroying a waited-on condition
// variable hangs the exit.
std::mutex& syncMutex = *new std::mutex;
std::condition_variable& syncCondition = *new std::condition_variable;
bool syncDone = false;
bool syncPending = false;   // a caller is waiting for the operation it posted
bool syncReleased = false;  // shutdown has begun: no caller waits any more
const uint8_t* pendingStateData = nullptr;
uint64_t pendingStateSize = 0;

void callSync(unsigned message, const uint8_t* data, uint64_t size) {
    std::unique_lock<std::mutex> lock(syncMutex);
    if (syncReleased) return;
    syncDone = false;
    syncPending = true;
    pendingStateData = data;
    pendingStateSize = size;
    if (postGuiMessage(message, nullptr)) {
        syncCondition.wait(lock, [] { return syncDone || syncReleased; });
    }
    // Released early: the bytes are about to go, so the GUI must not use them.
    syncPending = false;
    pendingStateData = nullptr;
    pendingStateSize = 0;
}

void serveSync(unsigned message) {
    std::lock_guard<std::mutex> lock(syncMutex);
    if (syncPending && hostInstance) {
        if (message == WM_GET_STATE) {
            hostInstance->sendState();
        } else {
            hostInstance->restoreState(pendingStateData, pendingStateSize);
        }
    }
    syncPending = false;
    pendingStateData = nullptr;
    pendingStateSize = 0;
    syncDone = true;
    syncCondition.notify_all();
}

void postOrDrop(unsigned message) {
    postGuiMessage(message, nullptr);
}

}  // namespace

void postLoadPlugin(std::string path) {
    // Each load carries its own path, so two quick loads load both in order.
    auto payload = std::make_unique<std::string>(std::move(path));
    if (postGuiMessage(WM_LOAD_PLUGIN, payload.get())) payload.release();
}

void postUnloadPlugin() {
    postOrDrop(WM_UNLOAD_PLUGIN);
}

void getStateSync() {
    callSync(WM_GET_STATE, nullptr, 0);
}

void setStateSync(const uint8_t* data, uint64_t size) {
    callSync(WM_SET_STATE, data, size);
}

void postShowGui() {
    postOrDrop(WM_SHOW_GUI);
}

void postQuit() {
    postOrDrop(WM_QUIT_HOST);
}

void releaseSyncCallers() {
    std::lock_guard<std::mutex> lock(syncMutex);
    syncReleased = true;
    syncCondition.notify_all();
}

void handleGuiMessage(unsigned message, void* payload) {
    switch (message) {
        case WM_LOAD_PLUGIN: {
            std::unique_ptr<std::string> path(static_cast<std::string*>(payload));
            if (hostInstance) hostInstance->loadPlugin(*path);
            break;
        }
        case WM_UNLOAD_PLUGIN:
            if (hostInstance) hostInstance->unloadPlugin();
            break;
        case WM_GET_STATE:
        case WM_SET_STATE:
            serveSync(message);
            break;
        case WM_SHOW_GUI:
            if (hostInstance) hostInstance->showGui();
            break;
        case WM_RESIZE_EDITOR: {
            std::unique_ptr<EditorResizeRequest> request(static_cast<EditorResizeRequest*>(payload));
            if (hostInstance)
                hostInstance->resizeEditorIfCurrent(request->width, request->height, request->frame);
            break;
        }
        default:
            break;
    }
}
