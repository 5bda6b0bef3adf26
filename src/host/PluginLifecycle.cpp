#include <string>

#include "host/VST2Host.h"
#include "shell/EditorWindows.h"

using Vexa::DSP::VST2Plugin;

namespace {

// Editor first, then the wrapper (switch-off, close, release of the module).
void tearDown(VST2Plugin* old) {
    if (!old) return;
    if (WindowHandle frame = old->editorWindow.load()) {
        if (editorNeedsExplicitClose()) old->closeEditor();
        destroyEditorWindow(frame);
        old->editorWindow.store(nullptr);
    }
    delete old;
    reclaimDisplayHooks();
}

}  // namespace

void VST2Host::destroyPlugin() {
    VST2Plugin* old = nullptr;
    {
        std::lock_guard<std::mutex> lock(pluginMutex);
        old = plugin;
        plugin = nullptr;
    }
    tearDown(old);
}

bool VST2Host::loadPlugin(std::string path) {
    // The new, still empty wrapper takes the old one's place in one step, so
    // every audio block of a reload finds a wrapper and gets its one reply.
    auto* fresh = new VST2Plugin;
    VST2Plugin* old = nullptr;
    {
        std::lock_guard<std::mutex> lock(pluginMutex);
        old = plugin;
        plugin = fresh;
    }
    tearDown(old);
    // Blocks arriving while the module loads are refused by the wrapper's
    // flags; the guard covers only the short configuration.
    if (!fresh->load(std::move(path), &pluginMutex)) return false;
    openEditor();
    ipc.sendText("ready");
    ipc.sendText("fixedCompensationDelaySamp\n" + std::to_string(fresh->getLatency()));
    return true;
}

void VST2Host::openEditor() {
    if (!editorWindowsAvailable()) return;
    int32_t width = 0;
    int32_t height = 0;
    plugin->getEditorRect(width, height);
    if (!plugin->editorWindow.load()) {
        WindowHandle content = nullptr;
        WindowHandle frame = createEditorWindow(width, height, &content, this);
        if (!frame) return;
        plugin->editorWindow.store(frame);
        plugin->openEditor(content);
        if (plugin->getEditorRect(width, height)) {
            resizeEditorWindow(width, height, frame);
        } else {
            showEditorWindow(frame);
        }
    }
    raiseEditorWindow(plugin->editorWindow.load());
}

bool VST2Host::unloadPlugin() {
    if (!plugin) return false;
    destroyPlugin();
    return true;
}

void VST2Host::sendState() {
    if (!plugin) return;
    const Vexa::DSP::StateBlob blob = plugin->getState();
    if (blob.size > 0 && blob.data) {
        ipc.sendText("state");
        ipc.sendBinary(blob.data, static_cast<size_t>(blob.size));
    } else {
        ipc.sendText("state failed");
    }
}

void VST2Host::restoreState(const uint8_t* data, uint64_t size) {
    if (plugin) plugin->setState(data, size);
}

void VST2Host::showGui() {
    if (plugin) openEditor();
}

void VST2Host::onWindowClosed(WindowHandle) {
    if (!plugin) return;
    if (editorNeedsExplicitClose()) plugin->closeEditor();
    plugin->editorWindow.store(nullptr);
}

bool VST2Host::hasOpenEditor() const {
    return plugin && plugin->editorWindow.load();
}

void VST2Host::idleEditor() {
    if (hasOpenEditor()) plugin->sendEditorIdle();
}

void VST2Host::resizeEditorIfCurrent(int32_t width, int32_t height, WindowHandle frame) {
    if (plugin && frame && plugin->editorWindow.load() == frame)
        resizeEditorWindow(width, height, frame);
}
