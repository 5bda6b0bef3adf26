#include "host/PluginProcessSlot.h"

#include "host/TransportRecord.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "host/PluginHostChoice.h"

namespace {

void printLine(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

}  // namespace

PluginProcessSlot::PluginProcessSlot(SlotListener& listener, uint32_t sampleRate,
                                     uint32_t blockSize)
    : listener(listener), blockSize(blockSize) {
    mirror.sampleRate = sampleRate;
    mirror.blockSize = blockSize;
}

PluginProcessSlot::~PluginProcessSlot() {
    unload();
}

std::shared_ptr<PluginChild> PluginProcessSlot::currentChild() {
    std::lock_guard<std::mutex> lock(childMutex);
    return child;
}

void PluginProcessSlot::replaceChild(std::shared_ptr<PluginChild> next) {
    std::shared_ptr<PluginChild> old;
    {
        std::lock_guard<std::mutex> lock(childMutex);
        old = std::move(child);
        child = std::move(next);
    }
    if (old && !old->lost.load()) {
        old->retired.store(true);
        old->stop();
    }
}

// ---- the session's worker thread ---------------------------------------------

void PluginProcessSlot::requestLoad(std::string newPath, std::optional<int32_t> uniqueId) {
    commands.post([this, newPath = std::move(newPath), uniqueId] { load(newPath, uniqueId); });
}

void PluginProcessSlot::requestUnload() {
    commands.post([this] { unloadNow(); });
}

void PluginProcessSlot::unloadAndWait() {
    commands.runAndWait([this] { unloadNow(); });
}

void PluginProcessSlot::requestEditor() {
    commands.post([this] { askLoaded(bridge::ShowEditorRequest{}); });
}

void PluginProcessSlot::requestState() {
    commands.runAndWait([this] {
        if (const auto state = readState()) listener.pluginState(*state);
    });
}

void PluginProcessSlot::requestRestore(const uint8_t* data, std::size_t size) {
    bridge::SetStateRequest request{std::string(reinterpret_cast<const char*>(data), size)};
    commands.runAndWait([&] {
        if (!currentChild()) return;
        mirror.state = request.blob;
        mirror.forgetSettings();
        ask(request);
    });
}

void PluginProcessSlot::setBlockSize(uint32_t frames) {
    blockSize = frames;
    commands.runAndWait([this, frames] {
        mirror.blockSize = frames;
        askLoaded(bridge::SetBlockSizeRequest{frames});
    });
}

void PluginProcessSlot::setSampleRate(uint32_t rate) {
    commands.runAndWait([this, rate] {
        mirror.sampleRate = rate;
        askLoaded(bridge::SetSampleRateRequest{rate});
    });
}

void PluginProcessSlot::suspend() {
    commands.runAndWait([this] { askLoaded(bridge::SuspendRequest{}); });
}

void PluginProcessSlot::resume() {
    commands.runAndWait([this] { askLoaded(bridge::ResumeRequest{}); });
}

void PluginProcessSlot::queueMidi(const int32_t* words, std::size_t count) {
    if (count < 3 || count > 4 || midiCount >= midi.size()) return;  // full: newer ones are dropped
    bridge::SharedMidiEvent& event = midi[midiCount++];
    std::copy_n(words, count, event.words);
    event.count = static_cast<uint32_t>(count);
}

void PluginProcessSlot::setLayout(const bridge::ChannelLayout& chosen) {
    layout = chosen;
    commands.runAndWait([this, chosen] {
        if (mirror.layout == chosen) return;
        mirror.layout = chosen;
        reseat();
    });
}

void PluginProcessSlot::setOffline(bool offline) {
    commands.runAndWait([this, offline] {
        mirror.offline = offline;
        if (const auto current = currentChild())
            current->setBlockLimit(offline ? PluginChild::offlineBlockTimeoutMs
                                           : PluginChild::blockTimeoutMs);
        askLoaded(bridge::SetOfflineRequest{offline});
    });
}

void PluginProcessSlot::queueTransport(const Vexa::DSP::Transport& given) {
    transport = sharedTransport(given);
    transportQueued = true;
}

void PluginProcessSlot::queueParameter(uint32_t frame, int32_t index, float value) {
    if (changeCount >= changes.size()) return;  // full: newer ones are dropped
    changes[changeCount++] = {frame, index, value};
}

template <class Request>
std::optional<typename Request::Reply> PluginProcessSlot::askAndWait(const Request& request) {
    std::optional<typename Request::Reply> reply;
    commands.runAndWait([&] {
        if (currentChild()) reply = ask(request);
    });
    return reply;
}

std::vector<bridge::ParameterInfo> PluginProcessSlot::parameters() {
    auto reply = askAndWait(bridge::ParametersRequest{});
    return reply ? std::move(reply->parameters) : std::vector<bridge::ParameterInfo>{};
}

std::optional<std::string> PluginProcessSlot::parameterDisplay(int32_t index, float value) {
    auto reply = askAndWait(bridge::ParameterDisplayRequest{index, value});
    if (!reply) return std::nullopt;
    return std::move(reply->display);
}

bool PluginProcessSlot::setParameter(int32_t index, float value) {
    const auto reply = askAndWait(bridge::SetParameterRequest{index, value});
    return reply && reply->ok;
}

std::optional<bridge::ProgramsResult> PluginProcessSlot::programs() {
    return askAndWait(bridge::ProgramsRequest{});
}

bool PluginProcessSlot::setProgram(int32_t index) {
    const auto reply = askAndWait(bridge::SetProgramRequest{index});
    return reply && reply->ok;
}

bool PluginProcessSlot::setProgramName(const std::string& name) {
    return askAndWait(bridge::SetProgramNameRequest{name}).has_value();
}

bool PluginProcessSlot::hasPlugin() {
    return relaunching.load() || currentChild() != nullptr;
}

PluginSlot::Block PluginProcessSlot::process(const float* const* inputs, float* const* outputs,
                                             uint32_t frames) {
    PluginChild::BlockExtras extras;
    extras.midi = midi.data();
    extras.midiCount = midiCount;
    extras.changes = changes.data();
    extras.changeCount = changeCount;
    extras.transport = transportQueued ? &transport : nullptr;
    midiCount = 0;
    changeCount = 0;
    transportQueued = false;
    outgoing->clear();
    if (relaunching.load()) return Block::recovering;
    const std::shared_ptr<PluginChild> current = currentChild();
    if (!current) return Block::noPlugin;
    if (current->lost.load()) return Block::recovering;
    // A process laid out for other channels is being replaced.
    if (current->layout() != layout) return Block::loading;
    Block result = Block::notProcessed;
    if (!current->process(inputs, outputs, frames, extras, result, *outgoing)) {
        lose(current);
        return Block::recovering;
    }
    return result;
}

// ---- losing and bringing back ----------------------------------------------------

void PluginProcessSlot::lose(const std::shared_ptr<PluginChild>& lostChild) {
    if (lostChild->retired.load() || lostChild->lost.exchange(true)) return;
    relaunching.store(true);
    commands.postFirst([this, lostChild] { recover(lostChild); });
}

void PluginProcessSlot::recover(const std::shared_ptr<PluginChild>& lostChild) {
    if (currentChild() != lostChild) return;  // unloaded or replaced meanwhile
    lostChild->kill();
    const std::string reason = lostChild->lossReason();
    keepSettings(lostChild->keptSettings());
    replaceChild(nullptr);
    printLine("plug-in crashed: " + reason);
    listener.pluginCrashed(reason);
    if (crashes.giveUpAfterLoss()) {
        relaunching.store(false);
        mirror.startOver({});
        listener.pluginGaveUp(CrashPolicy::crashesBeforeGivingUp);
        return;
    }
    relaunch();
}

void PluginProcessSlot::relaunch() {
    const auto loaded = bringBack();
    if (!loaded) return;
    relaunching.store(false);
    listener.pluginRelaunched(*loaded);
    if (loaded->ok) printLine("plug-in relaunched");
}

void PluginProcessSlot::reseat() {
    const std::shared_ptr<PluginChild> old = currentChild();
    // Without a plug-in, or lost and being brought back: the next process
    // is laid out anew anyway.
    if (!old || old->lost.load() || relaunching.load()) return;
    readState();  // what it is now, into the mirror
    relaunching.store(true);
    replaceChild(nullptr);  // asks it to end, and waits until it has
    keepSettings(old->keptSettings());
    if (bringBack()) relaunching.store(false);
}

std::optional<bridge::LoadResult> PluginProcessSlot::bringBack() {
    // Replies on the way report the plug-in half restored; what to bring
    // back stays what the client left, for this try and any after it.
    struct KeepWanted {
        RestoreMirror& mirror;
        const bridge::Condition condition;
        ~KeepWanted() { mirror.condition = condition; }
    } keep{mirror, mirror.condition};
    const bridge::Condition& wanted = keep.condition;
    std::shared_ptr<PluginChild> fresh = startChild();
    if (!fresh) {
        relaunching.store(false);
        return std::nullopt;
    }
    replaceChild(fresh);
    auto loaded = ask(bridge::LoadRequest{mirror.path, mirror.uniqueId});
    if (!loaded) return std::nullopt;  // lost again: its recovery is queued
    if (loaded->ok) {
        // Each step stops the relaunch if the plug-in is lost again.
        bridge::Condition now = loaded->condition;
        if (mirror.state) {
            const auto restored = ask(bridge::SetStateRequest{*mirror.state});
            if (!restored) return std::nullopt;
            now = restored->condition;
        }
        if (!restoreSettings()) return std::nullopt;
        if (mirror.offline && !ask(bridge::SetOfflineRequest{true})) return std::nullopt;
        if (now.suspended != wanted.suspended &&
            !(wanted.suspended ? ask(bridge::SuspendRequest{}) : ask(bridge::ResumeRequest{})))
            return std::nullopt;
        if (now.editorOpen != wanted.editorOpen &&
            !(wanted.editorOpen ? ask(bridge::ShowEditorRequest{})
                                : ask(bridge::CloseEditorRequest{})))
            return std::nullopt;
    }
    return loaded;
}

std::shared_ptr<PluginChild> PluginProcessSlot::startChild() {
    // The listener hears the process's events on its reader thread.
    std::shared_ptr<PluginChild> child = PluginChild::start(
        hostExecutable, mirror.sampleRate, mirror.blockSize, mirror.layout,
        [this](const bridge::PluginEvent& event) { listener.pluginEvent(event); });
    if (child && mirror.offline) child->setBlockLimit(PluginChild::offlineBlockTimeoutMs);
    return child;
}

void PluginProcessSlot::keepSettings(const bridge::KeptSettings& kept) {
    // The process is gone, so nothing writes these any more. Laid over what
    // was kept before: a process lost while being brought back kept only
    // what it was given back so far. A program set there starts over.
    if (kept.hasProgram()) {
        mirror.program = kept.programIndex();
        mirror.values.clear();
    }
    std::map<int32_t, float> values(mirror.values.begin(), mirror.values.end());
    kept.forEachValue([&values](int32_t index, float value) { values[index] = value; });
    mirror.values.assign(values.begin(), values.end());
}

bool PluginProcessSlot::restoreSettings() {
    // Copies: the relaunched process's replies do not touch them, but a
    // loss on the way queues a recovery that refills them.
    const auto program = mirror.program;
    const auto values = mirror.values;
    if (program && !ask(bridge::SetProgramRequest{*program})) return false;
    for (const auto& [index, value] : values)
        if (!ask(bridge::SetParameterRequest{index, value})) return false;
    return true;
}

// ---- the command thread ----------------------------------------------------------

template <class Request>
std::optional<typename Request::Reply> PluginProcessSlot::ask(const Request& request) {
    const std::shared_ptr<PluginChild> current = currentChild();
    if (!current || current->lost.load()) return std::nullopt;
    auto reply = current->ask(request);
    if (!reply) {
        lose(current);
        return std::nullopt;
    }
    mirror.condition = reply->condition;
    return reply;
}

template <class Request>
void PluginProcessSlot::askLoaded(const Request& request) {
    if (currentChild()) ask(request);
}

void PluginProcessSlot::load(const std::string& newPath, std::optional<int32_t> uniqueId) {
    // A new plug-in starts from nothing that the last one left.
    crashes.forget();
    mirror.startOver(newPath, uniqueId);
    hostExecutable = choosePluginHost(newPath).executable;
    const std::shared_ptr<PluginChild> existing = currentChild();
    const bool otherProcess = existing && existing->executable != hostExecutable;
    // The last plug-in is switched off and closed first, as in a process
    // that loads the next one itself.
    if (otherProcess && !existing->lost.load()) existing->ask(bridge::UnloadRequest{});
    if (!existing || relaunching.load() || otherProcess || existing->layout() != mirror.layout) {
        relaunching.store(false);
        replaceChild(startChild());
        if (!currentChild()) {
            std::fprintf(stderr, "the plug-in process could not be started\n");
            bridge::LoadResult failed;
            failed.failure = bridge::LoadFailure::refused;
            failed.reason = "the plug-in process could not be started";
            listener.pluginLoaded(failed);
            return;
        }
    }
    if (const auto result = ask(bridge::LoadRequest{newPath, uniqueId}))
        listener.pluginLoaded(*result);
}

void PluginProcessSlot::unloadNow() {
    if (const auto current = currentChild(); current && !current->lost.load())
        current->ask(bridge::UnloadRequest{});
    replaceChild(nullptr);
    relaunching.store(false);
    mirror.startOver({});
}

std::optional<bridge::StateResult> PluginProcessSlot::readState() {
    if (!currentChild()) return std::nullopt;
    auto result = ask(bridge::GetStateRequest{});
    // The plug-in went down answering: the request still gets its reply.
    if (!result) return bridge::StateResult{};
    if (result->ok) mirror.state = result->blob;
    return result;
}

// ---- the session's end ----------------------------------------------------------------

void PluginProcessSlot::hurry() {
    commands.hurry(ChildProcess::shutdownGraceMs());
}

void PluginProcessSlot::unload() {
    commands.finish([this] { unloadNow(); }, unloadGraceMs,
                    [this] {
        // A plug-in stuck in a command holds the thread: end its process.
        if (const auto current = currentChild()) current->kill();
    });
}
