#include "host/PluginProcessSlot.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

using bridge::Command;
using bridge::PipeMessage;
using bridge::Reply;

namespace {

void printLine(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

bool isText(const PipeMessage& message, const char* text) {
    return message.kind == static_cast<uint32_t>(Reply::text) && message.payload == text;
}

}  // namespace

PluginProcessSlot::PluginProcessSlot(std::shared_ptr<MessageSink> sink, uint32_t sampleRate,
                                     uint32_t blockSize)
    : sink(std::move(sink)), sampleRate(sampleRate), settledBlockSize(blockSize),
      blockSize(blockSize) {}

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

void PluginProcessSlot::requestLoad(std::string newPath) {
    commands.post([this, newPath = std::move(newPath)] { load(newPath); });
}

void PluginProcessSlot::requestUnload() {
    commands.post([this] { unloadNow(); });
}

void PluginProcessSlot::requestEditor() {
    commands.post([this] { showEditor(); });
}

void PluginProcessSlot::requestState() {
    commands.runAndWait([this] { sendState(); });
}

void PluginProcessSlot::requestRestore(const uint8_t* data, std::size_t size) {
    commands.runAndWait([this, blob = std::string(reinterpret_cast<const char*>(data), size)] {
        restoreState(blob);
    });
}

void PluginProcessSlot::setBlockSize(uint32_t frames) {
    blockSize = frames;
    commands.runAndWait([this, frames] {
        settledBlockSize = frames;
        applySetting(Command::blockSize, frames);
    });
}

void PluginProcessSlot::setSampleRate(uint32_t rate) {
    commands.runAndWait([this, rate] {
        sampleRate = rate;
        applySetting(Command::sampleRate, rate);
    });
}

void PluginProcessSlot::suspend() {
    commands.runAndWait([this] { setBypass(true); });
}

void PluginProcessSlot::resume() {
    commands.runAndWait([this] { setBypass(false); });
}

void PluginProcessSlot::queueMidi(const int32_t* words, std::size_t count) {
    if (count < 3 || count > 4 || midiCount >= midi.size()) return;  // full: newer ones are dropped
    bridge::SharedMidiEvent& event = midi[midiCount++];
    std::copy_n(words, count, event.words);
    event.count = static_cast<uint32_t>(count);
}

bool PluginProcessSlot::hasPlugin() {
    return relaunching.load() || currentChild() != nullptr;
}

PluginSlot::Block PluginProcessSlot::process(float* const* inputs, float* const* outputs) {
    const uint32_t events = midiCount;
    midiCount = 0;
    if (relaunching.load()) return Block::notProcessed;
    const std::shared_ptr<PluginChild> current = currentChild();
    if (!current) return Block::noPlugin;
    if (current->lost.load()) return Block::notProcessed;
    Block result = Block::notProcessed;
    if (!current->process(inputs, outputs, blockSize, midi.data(), events, result)) {
        lose(current);
        return Block::notProcessed;
    }
    return result;
}

// ---- losing and bringing back ----------------------------------------------------

void PluginProcessSlot::lose(const std::shared_ptr<PluginChild>& lostChild) {
    if (lostChild->retired.load() || lostChild->lost.exchange(true)) return;
    relaunching.store(true);
    commands.postFirst([this, lostChild] { recover(lostChild); });
}

bool PluginProcessSlot::crashedTooOften() {
    const auto now = std::chrono::steady_clock::now();
    crashTimes.erase(std::remove_if(crashTimes.begin(), crashTimes.end(),
                                    [&](auto at) { return now - at >= crashWindow; }),
                     crashTimes.end());
    crashTimes.push_back(now);
    return crashTimes.size() >= static_cast<std::size_t>(crashesBeforeGivingUp);
}

void PluginProcessSlot::recover(const std::shared_ptr<PluginChild>& lostChild) {
    if (currentChild() != lostChild) return;  // unloaded or replaced meanwhile
    const std::string reason = lostChild->lossReason();
    replaceChild(nullptr);
    printLine("plug-in crashed: " + reason);
    sink->sendText("crashed\n" + reason);
    if (crashedTooOften()) {
        relaunching.store(false);
        path.clear();
        sink->sendText("crashed\ngave up after 3 crashes");
        return;
    }
    relaunch();
}

void PluginProcessSlot::relaunch() {
    std::shared_ptr<PluginChild> fresh = PluginChild::start(sampleRate, settledBlockSize);
    if (!fresh) {
        relaunching.store(false);
        return;
    }
    replaceChild(fresh);
    const PluginChild::Answer loaded = ask(Command::load, path.data(), path.size());
    if (!loaded.answered) return;
    const bool ready = std::any_of(loaded.messages.begin(), loaded.messages.end(),
                                   [](const PipeMessage& m) { return isText(m, "ready"); });
    if (ready) {
        // Each step stops the relaunch if the plug-in is lost again.
        uint32_t flags = loaded.flags;
        if (hasState) {
            const auto restored = ask(Command::setState, lastState.data(), lastState.size());
            if (!restored.answered) return;
            flags = restored.flags;
        }
        if (((flags & bridge::pluginSuspended) != 0) != bypassed &&
            !ask(bypassed ? Command::suspend : Command::resume).answered)
            return;
        if (((flags & bridge::editorIsOpen) != 0) != editorOpen &&
            !ask(editorOpen ? Command::showEditor : Command::closeEditor).answered)
            return;
    }
    relaunching.store(false);
    forward(loaded);
    if (ready) printLine("plug-in relaunched");
}

// ---- the command thread ----------------------------------------------------------

PluginChild::Answer PluginProcessSlot::ask(Command kind, const void* data, std::size_t size) {
    const std::shared_ptr<PluginChild> current = currentChild();
    if (!current || current->lost.load()) return {};
    PluginChild::Answer answer = current->command(kind, data, size);
    if (!answer.answered) lose(current);
    return answer;
}

void PluginProcessSlot::note(const PluginChild::Answer& answer) {
    if (!answer.answered) return;
    editorOpen = (answer.flags & bridge::editorIsOpen) != 0;
    bypassed = (answer.flags & bridge::pluginSuspended) != 0;
}

void PluginProcessSlot::forward(const PluginChild::Answer& answer) {
    for (const PipeMessage& message : answer.messages) {
        if (message.kind == static_cast<uint32_t>(Reply::text)) sink->sendText(message.payload);
        else sink->sendBinary(message.payload.data(), message.payload.size());
    }
}

void PluginProcessSlot::load(const std::string& newPath) {
    // A new plug-in starts from nothing that the last one left.
    crashTimes.clear();
    hasState = false;
    lastState.clear();
    bypassed = false;
    editorOpen = false;
    path = newPath;
    if (!currentChild() || relaunching.load()) {
        relaunching.store(false);
        replaceChild(PluginChild::start(sampleRate, settledBlockSize));
        // As any failed load, this one sends the client nothing.
        if (!currentChild()) std::fprintf(stderr, "the plug-in process could not be started\n");
    }
    const PluginChild::Answer answer = ask(Command::load, newPath.data(), newPath.size());
    note(answer);
    forward(answer);
}

void PluginProcessSlot::unloadNow() {
    if (const auto current = currentChild(); current && !current->lost.load())
        current->command(Command::unload);
    replaceChild(nullptr);
    relaunching.store(false);
    path.clear();
    hasState = false;
    lastState.clear();
    bypassed = false;
    editorOpen = false;
}

void PluginProcessSlot::showEditor() {
    const PluginChild::Answer answer = ask(Command::showEditor);
    note(answer);
    forward(answer);
}

void PluginProcessSlot::sendState() {
    if (!currentChild()) return;
    const PluginChild::Answer answer = ask(Command::getState);
    if (!answer.answered) {
        // The plug-in went down answering: the request still gets its reply.
        sink->sendText("state failed");
        return;
    }
    const auto& messages = answer.messages;
    for (std::size_t i = 0; i + 1 < messages.size(); ++i) {
        if (isText(messages[i], "state") &&
            messages[i + 1].kind == static_cast<uint32_t>(Reply::binary)) {
            lastState = messages[i + 1].payload;
            hasState = true;
        }
    }
    note(answer);
    forward(answer);
}

void PluginProcessSlot::restoreState(const std::string& blob) {
    if (!currentChild()) return;
    lastState = blob;
    hasState = true;
    const PluginChild::Answer answer = ask(Command::setState, blob.data(), blob.size());
    note(answer);
    forward(answer);
}

void PluginProcessSlot::setBypass(bool bypass) {
    if (!currentChild()) return;
    const PluginChild::Answer answer = ask(bypass ? Command::suspend : Command::resume);
    note(answer);
    forward(answer);
}

void PluginProcessSlot::applySetting(Command kind, uint32_t value) {
    if (!currentChild()) return;
    const PluginChild::Answer answer = ask(kind, &value, sizeof value);
    note(answer);
    forward(answer);
}

// ---- the GUI thread -----------------------------------------------------------------

void PluginProcessSlot::unload() {
    commands.finish([this] { unloadNow(); }, PluginChild::blockTimeoutMs * 2, [this] {
        // A plug-in stuck in a command holds the thread: end its process.
        if (const auto current = currentChild()) current->lossReason();
    });
}
