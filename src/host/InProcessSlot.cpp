#include "host/InProcessSlot.h"

#include "shell/EditorWindows.h"

using Vexa::DSP::VST2Plugin;

namespace {

constexpr char frameTitle[] = "Corvel VST/Remote";

std::string fileStem(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

bridge::LoadFailure failureOf(Vexa::DSP::LoadProblem problem) {
    using Vexa::DSP::LoadProblem;
    switch (problem) {
        case LoadProblem::missing:
            return bridge::LoadFailure::notFound;
        case LoadProblem::notAPlugin:
            return bridge::LoadFailure::notAPlugin;
        case LoadProblem::otherMachine:
            return bridge::LoadFailure::wrongArchitecture;
        case LoadProblem::none:
        case LoadProblem::wouldNotOpen:
            break;
    }
    return bridge::LoadFailure::refused;
}

}  // namespace

InProcessSlot::InProcessSlot(GuiThread& gui, SlotListener* listener,
                             PluginEventListener* parameterListener, uint32_t sampleRate,
                             uint32_t blockSize)
    : gui(gui), listener(listener), sampleRate(sampleRate), blockSize(blockSize) {
    if (parameterListener) {
        pump = std::make_unique<ParameterEventPump>(
            *parameterListener, [this](bridge::PluginEvent& event) { describe(event); });
    }
}

InProcessSlot::~InProcessSlot() {
    unload();
    pump.reset();  // before the members its thread reads
}

void InProcessSlot::describe(bridge::PluginEvent& event) {
    std::lock_guard<std::mutex> lock(pluginMutex);
    if (!plugin) return;
    if (event.what == bridge::PluginEvent::Kind::ioChanged) {
        // Blocks are kept out by the lock while the buffers are laid out again.
        plugin->takeNewLayout();
        event.inputs = plugin->inputCount();
        event.outputs = plugin->outputCount();
        event.latency = plugin->getLatency();
        return;
    }
    if (event.what != bridge::PluginEvent::Kind::change)
        event.value = plugin->parameterValue(event.index);
    event.display = plugin->parameterDisplay(event.index);
}

void InProcessSlot::requestLoad(std::string newPath, std::optional<int32_t> uniqueId) {
    gui.post([self = shared_from_this(), newPath = std::move(newPath), uniqueId] {
        const bridge::LoadResult result = self->load(newPath, uniqueId);
        if (self->listener) self->listener->pluginLoaded(result);
    });
}

void InProcessSlot::requestUnload() {
    gui.post([self = shared_from_this()] { self->unload(); });
}

void InProcessSlot::unloadAndWait() {
    gui.runAndWait([this] { unload(); });
}

void InProcessSlot::requestEditor() {
    gui.post([self = shared_from_this()] { self->showEditor(); });
}

void InProcessSlot::requestState() {
    gui.runAndWait([this] {
        const auto state = readState();
        if (state && listener) listener->pluginState(*state);
    });
}

void InProcessSlot::requestRestore(const uint8_t* data, std::size_t size) {
    gui.runAndWait([this, data, size] { restoreState(data, size); });
}

void InProcessSlot::tearDown(std::unique_ptr<VST2Plugin> old) {
    if (!old) return;
    // Editor first, then the wrapper (switch-off, close, release of the module).
    if (WindowHandle frame = editorFrame.exchange(nullptr)) {
        old->closeEditor();
        destroyEditorWindow(frame);
    }
    old->setSizeListener(nullptr);
    old->setParameterListener(nullptr);
    old->setOutgoingEventListener(nullptr);
    old.reset();
    reclaimDisplayHooks();
}

bridge::LoadResult InProcessSlot::load(const std::string& newPath,
                                       std::optional<int32_t> uniqueId) {
    // The new, still empty wrapper takes the old one's place in one step, so
    // every audio block of a reload finds a wrapper and gets its one reply.
    VST2Plugin* fresh = nullptr;
    std::unique_ptr<VST2Plugin> old;
    {
        std::lock_guard<std::mutex> lock(pluginMutex);
        old = std::move(plugin);
        plugin = std::make_unique<VST2Plugin>(sampleRate, blockSize);
        plugin->setOffline(offline);
        fresh = plugin.get();
    }
    tearDown(std::move(old));
    path = newPath;
    fresh->setSizeListener(this);
    fresh->setParameterListener(pump.get());
    fresh->setOutgoingEventListener(this);
    // Blocks arriving while the module loads are refused by the wrapper's
    // flags; the lock covers only the short configuration.
    bridge::LoadResult result;
    const Vexa::DSP::LoadOutcome outcome = fresh->load(newPath, &pluginMutex, uniqueId.value_or(0));
    if (!outcome.ok) {
        result.failure = failureOf(outcome.problem);
        result.reason = outcome.reason;
        return result;
    }
    openEditor();
    result.ok = true;
    result.latency = fresh->getLatency();
    result.inputs = fresh->inputCount();
    result.outputs = fresh->outputCount();
    result.name = fresh->effectName();
    result.parameters = fresh->parameterCount();
    result.programs = fresh->programCount();
    for (const bool inputs : {true, false})
        for (Vexa::DSP::PinDescription& pin : fresh->pins(inputs))
            (inputs ? result.inputPins : result.outputPins)
                .push_back({std::move(pin.label), pin.stereo});
    return result;
}

void InProcessSlot::unload() {
    std::unique_ptr<VST2Plugin> old;
    {
        std::lock_guard<std::mutex> lock(pluginMutex);
        old = std::move(plugin);
    }
    tearDown(std::move(old));
}

std::string InProcessSlot::editorTitle() {
    std::string name = plugin->effectName();
    if (name.empty()) name = fileStem(path);
    return std::string(frameTitle) + " - " + name;
}

void InProcessSlot::openEditor() {
    if (!plugin || !editorWindowsAvailable()) return;
    int32_t width = 0;
    int32_t height = 0;
    plugin->getEditorRect(width, height);
    if (!editorFrame.load()) {
        WindowHandle content = nullptr;
        WindowHandle frame = createEditorWindow(editorTitle(), &content, this);
        if (!frame) return;
        editorFrame.store(frame);
        plugin->openEditor(content);
        if (plugin->getEditorRect(width, height)) {
            resizeEditorWindow(width, height, frame);
        } else {
            showEditorWindow(frame);
        }
    }
    raiseEditorWindow(editorFrame.load());
}

void InProcessSlot::showEditor() {
    openEditor();
}

void InProcessSlot::closeEditor() {
    WindowHandle frame = editorFrame.exchange(nullptr);
    if (!frame) return;
    if (plugin) plugin->closeEditor();
    destroyEditorWindow(frame);
}

void InProcessSlot::onWindowClosed(WindowHandle window) {
    // The platform destroys the frame right after; the plug-in stays loaded.
    WindowHandle open = window;
    if (editorFrame.compare_exchange_strong(open, nullptr) && plugin) plugin->closeEditor();
}

void InProcessSlot::idleEditor() {
    if (plugin && editorFrame.load()) plugin->sendEditorIdle();
}

void InProcessSlot::onEditorSizeRequest(int32_t width, int32_t height) {
    if (gui.isCurrent()) {
        if (WindowHandle frame = editorFrame.load()) resizeEditorWindow(width, height, frame);
        return;
    }
    // Carried to the GUI thread without waiting: the plug-in may ask from
    // its audio thread, which holds pluginMutex. Applied only if the frame
    // it was meant for is still the open one.
    gui.post([self = weak_from_this(), width, height, expected = editorFrame.load()] {
        auto slot = self.lock();
        if (slot && expected && slot->editorFrame.load() == expected)
            resizeEditorWindow(width, height, expected);
    });
}

std::optional<bridge::StateResult> InProcessSlot::readState() {
    if (!plugin) return std::nullopt;
    const Vexa::DSP::StateBlob blob = plugin->getState();
    bridge::StateResult result;
    result.chunk = blob.chunk;
    if (blob.size > 0 && blob.data) {
        result.ok = true;
        result.blob.assign(static_cast<const char*>(blob.data),
                           static_cast<std::size_t>(blob.size));
    }
    return result;
}

void InProcessSlot::restoreState(const uint8_t* data, std::size_t size) {
    if (plugin) plugin->setState(data, size);
}

void InProcessSlot::setBlockSize(uint32_t frames) {
    std::lock_guard<std::mutex> lock(pluginMutex);
    blockSize = frames;
    if (plugin) plugin->setBlockSize(frames);
}

void InProcessSlot::setSampleRate(uint32_t rate) {
    std::lock_guard<std::mutex> lock(pluginMutex);
    sampleRate = rate;
    if (plugin) plugin->setSampleRate(rate);
}

void InProcessSlot::setLayout(const bridge::ChannelLayout& chosen) {
    std::lock_guard<std::mutex> lock(pluginMutex);
    layout = chosen;
}

void InProcessSlot::setOffline(bool chosen) {
    std::lock_guard<std::mutex> lock(pluginMutex);
    offline = chosen;
    if (plugin) plugin->setOffline(chosen);
}

void InProcessSlot::queueTransport(const Vexa::DSP::Transport& transport) {
    std::lock_guard<std::mutex> lock(pluginMutex);
    if (plugin) plugin->setTransport(transport);
}

void InProcessSlot::onOutgoingEvent(uint32_t frame, const uint8_t* bytes, uint32_t size) {
    outgoing->add(frame, bytes, size);
}

void InProcessSlot::suspend() {
    std::lock_guard<std::mutex> lock(pluginMutex);
    if (plugin) plugin->suspend();
}

void InProcessSlot::resume() {
    std::lock_guard<std::mutex> lock(pluginMutex);
    if (plugin) plugin->resume();
}

void InProcessSlot::queueMidi(const int32_t* words, std::size_t count) {
    std::lock_guard<std::mutex> lock(pluginMutex);
    if (plugin) plugin->queueMidi(words, count);
}

void InProcessSlot::queueParameter(uint32_t frame, int32_t index, float value) {
    std::lock_guard<std::mutex> lock(pluginMutex);
    if (plugin) plugin->queueParameter(frame, index, value);
}

template <class Work>
bool InProcessSlot::withPlugin(Work work) {
    bool found = false;
    gui.runAndWait([&] {
        // Only the GUI thread swaps the wrapper, so it stays while the work runs.
        if (!plugin) return;
        found = true;
        work(*plugin);
    });
    return found;
}

std::vector<bridge::ParameterInfo> InProcessSlot::parameters() {
    std::vector<bridge::ParameterInfo> list;
    withPlugin([&](VST2Plugin& plugin) {
        for (int32_t i = 0; i < plugin.parameterCount(); ++i) {
            Vexa::DSP::ParameterDescription described = plugin.describeParameter(i);
            bridge::ParameterInfo info;
            info.index = i;
            info.name = std::move(described.name);
            info.label = std::move(described.label);
            info.display = std::move(described.display);
            info.value = described.value;
            info.automatable = described.automatable;
            info.isSwitch = described.isSwitch;
            info.isInteger = described.isInteger;
            info.minimum = described.minimum;
            info.maximum = described.maximum;
            info.category = std::move(described.category);
            list.push_back(std::move(info));
        }
    });
    return list;
}

std::optional<std::string> InProcessSlot::parameterDisplay(int32_t index, float value) {
    std::optional<std::string> shown;
    withPlugin([&](VST2Plugin& plugin) {
        if (index < 0 || index >= plugin.parameterCount()) return;
        std::lock_guard<std::mutex> lock(pluginMutex);
        shown = plugin.probeDisplay(index, value);
    });
    return shown;
}

bool InProcessSlot::setParameter(int32_t index, float value) {
    std::lock_guard<std::mutex> lock(pluginMutex);
    if (!plugin || index < 0 || index >= plugin->parameterCount()) return false;
    plugin->setParameter(index, value);
    return true;
}

std::optional<bridge::ProgramsResult> InProcessSlot::programs() {
    std::optional<bridge::ProgramsResult> result;
    withPlugin([&](VST2Plugin& plugin) {
        result.emplace();
        result->names = plugin.programNames();
        result->current = plugin.currentProgram();
    });
    return result;
}

bool InProcessSlot::setProgram(int32_t index) {
    bool done = false;
    withPlugin([&](VST2Plugin& plugin) {
        done = index >= 0 && index < plugin.programCount();
        if (done) plugin.setProgram(index);
    });
    return done;
}

bool InProcessSlot::setProgramName(const std::string& name) {
    return withPlugin([&](VST2Plugin& plugin) { plugin.setProgramName(name); });
}

bool InProcessSlot::isSuspended() {
    std::lock_guard<std::mutex> lock(pluginMutex);
    return plugin && plugin->isSuspended();
}

bridge::Condition InProcessSlot::condition() {
    bridge::Condition now;
    now.editorOpen = hasOpenEditor();
    now.suspended = isSuspended();
    return now;
}

bool InProcessSlot::hasPlugin() {
    std::lock_guard<std::mutex> lock(pluginMutex);
    return plugin != nullptr;
}

PluginSlot::Block InProcessSlot::process(const float* const* inputs, float* const* outputs,
                                         uint32_t frames) {
    std::lock_guard<std::mutex> lock(pluginMutex);
    outgoing->clear();
    if (!plugin) return Block::noPlugin;
    if (!plugin->process(inputs, layout.inputs, outputs, layout.outputs, frames))
        return plugin->isSuspended() ? Block::bypassed : Block::loading;
    return Block::processed;
}
