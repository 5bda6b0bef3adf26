#include "host/Session.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "dsp/VST2Plugin.h"
#include "host/CommandParsing.h"
#include "bridge/SharedBlock.h"
#include "host/PluginPlacement.h"
#include "scan/PluginScan.h"
#include "Version.h"

namespace {

bool startsWith(std::string_view message, std::string_view word) {
    return message.substr(0, word.size()) == word;
}

void printSetting(const char* format, uint32_t value) {
    std::printf(format, value);
    std::fflush(stdout);
}

}  // namespace

static_assert(Session::maxBlockSize <= bridge::maxFrames,
              "a block must fit the memory shared with the plug-in process");
static_assert(Vexa::DSP::VST2Plugin::midiSlots == bridge::maxMidiEvents,
              "the plug-in process must take every event a block carries");

// Each default is read once: another session may change it meanwhile, and
// the staging and the plug-in must agree on the size they were made with.
Session::Session(GuiThread& gui, SessionDefaults& defaults, std::shared_ptr<MessageSink> sink,
                 std::function<void(Session&)> ended)
    : gui(gui), defaults(defaults), sink(std::move(sink)), ended(std::move(ended)),
      blockSize(defaults.blockSize.load()),
      slot(makePluginSlot(defaults.placement, gui, *this, defaults.sampleRate.load(), blockSize)) {
    inputStorage.assign(2 * static_cast<std::size_t>(blockSize), 0.0f);
    outputStorage.assign(2 * static_cast<std::size_t>(blockSize), 0.0f);
}

void Session::greet() {
    sink->sendText("corvel studio plugin loader\nversion " CORVEL_VERSION);
}

bool Session::onText(std::string_view message) {
    const std::size_t zero = message.find('\0');
    if (zero != std::string_view::npos) message = message.substr(0, zero);
    if (message.empty()) return false;

    if (startsWith(message, "midi")) {
        handleMidi(commands::argumentAt(message, 5));
    } else if (startsWith(message, "showGui")) {
        slot->requestEditor();
    } else if (startsWith(message, "scanVSTs")) {
        handleScan(message);
    } else if (startsWith(message, "sampleRate")) {
        handleSampleRate(commands::argumentAt(message, 11));
    } else if (startsWith(message, "bufsize")) {
        handleBufsize(message);
    } else if (startsWith(message, "load")) {
        slot->requestLoad(std::string(commands::argumentAt(message, 5)));
    } else if (startsWith(message, "unload")) {
        slot->requestUnload();
    } else if (startsWith(message, "suspend")) {
        slot->suspend();
        sink->sendText("bypass\ntrue");
    } else if (startsWith(message, "resume")) {
        slot->resume();
        sink->sendText("bypass\nfalse");
    } else if (startsWith(message, "getState")) {
        slot->requestState();
    } else if (startsWith(message, "setState")) {
        pendingSetState = true;
    } else if (startsWith(message, "quit")) {
        gui.quit();
    } else {
        return false;
    }
    return true;
}

void Session::handleMidi(std::string_view list) {
    // No more events are parsed than the plug-in's queue can hold.
    commands::forEachMidiEvent(
        list, Vexa::DSP::VST2Plugin::midiSlots, [this](const commands::MidiEvent& event) {
            const int32_t words[4] = {event.status, event.data1, event.data2,
                                      event.frameOffset.value_or(0)};
            slot->queueMidi(words, event.frameOffset ? 4 : 3);
        });
}

void Session::handleScan(std::string_view message) {
    const std::string folder =
        message.size() == 8 ? std::string() : std::string(commands::argumentAt(message, 9));
    sink->sendText(scanReply(folder));
}

void Session::handleSampleRate(std::string_view argument) {
    // An argument that is not one plain number is treated as missing.
    const auto words = commands::splitWords(argument);
    const auto rate =
        words.size() == 1 ? commands::decimalArgument(words[0], 1, maxSampleRate) : std::nullopt;
    if (!rate) return;
    const auto value = static_cast<uint32_t>(*rate);
    defaults.sampleRate.store(value);
    printSetting("setting Host sample rate to %u\n", value);
    slot->setSampleRate(value);
}

void Session::handleBufsize(std::string_view message) {
    const auto words = commands::splitWords(message);
    if (words.size() < 2) return;
    const auto frames = commands::decimalArgument(words[1], minBlockSize, maxBlockSize);
    if (!frames) return;
    setBlockSize(*frames);
    if (slot->hasPlugin()) sink->sendText("ready");
}

void Session::setBlockSize(int32_t frames) {
    const auto size = static_cast<uint32_t>(frames);
    printSetting("setting Host buffer size to %u\n", size);
    defaults.blockSize.store(size);
    if (size == blockSize) return;
    blockSize = size;
    slot->setBlockSize(size);
    inputStorage.assign(2 * static_cast<std::size_t>(size), 0.0f);
    outputStorage.assign(2 * static_cast<std::size_t>(size), 0.0f);
}

bool Session::onBinary(const std::vector<uint8_t>& message) {
    if (pendingSetState) {
        pendingSetState = false;
        slot->requestRestore(message.data(), message.size());
        return true;
    }
    const std::size_t channelBytes = sizeof(float) * blockSize;
    float* inputs[2] = {inputStorage.data(), inputStorage.data() + blockSize};
    float* outputs[2] = {outputStorage.data(), outputStorage.data() + blockSize};
    PluginSlot::Block result = PluginSlot::Block::notProcessed;
    // A short block would be read past its end: answer it, process nothing.
    if (message.size() >= 2 * channelBytes) {
        std::memcpy(inputs[0], message.data(), channelBytes);
        std::memcpy(inputs[1], message.data() + channelBytes, channelBytes);
        result = slot->process(inputs, outputs, blockSize);
    } else if (!slot->hasPlugin()) {
        result = PluginSlot::Block::noPlugin;
    }
    if (result == PluginSlot::Block::processed) {
        sink->sendBinary(outputStorage.data(), 2 * channelBytes);
    } else if (result == PluginSlot::Block::notProcessed) {
        sink->sendBinary(nullptr, 0);
    }
    return true;
}

void Session::pluginState(const bridge::StateResult& state) {
    if (!state.ok) {
        sink->sendText("state failed");
        return;
    }
    sink->sendText("state");
    sink->sendBinary(state.blob.data(), state.blob.size());
}

void Session::pluginLoaded(const bridge::LoadResult& result) {
    if (!result.ok) {
        // Clients of this protocol learn of a failed load by silence; the
        // user reads why in the program's output.
        std::printf("plug-in not loaded: %s\n", result.reason.c_str());
        std::fflush(stdout);
        return;
    }
    sink->sendText("ready");
    sink->sendText("fixedCompensationDelaySamp\n" + std::to_string(result.latency));
}

void Session::pluginCrashed(const std::string& reason) {
    sink->sendText("crashed\n" + reason);
}

void Session::pluginGaveUp(int crashes) {
    sink->sendText("crashed\ngave up after " + std::to_string(crashes) + " crashes");
}

void Session::onClose() {
    pendingSetState = false;
    // The plug-in and its editor go on the GUI thread; the session lives
    // until then. If the loop has already ended, shutdown unloads it.
    gui.post([self = shared_from_this()] {
        self->slot->unload();
        if (self->ended) self->ended(*self);
    });
}
