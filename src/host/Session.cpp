#include "host/Session.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "Version.h"
#include "bridge/SharedBlock.h"
#include "dsp/VST2Plugin.h"
#include "host/CommandParsing.h"
#include "host/PluginPlacement.h"

namespace {

// The text up to a 0 byte, which is all that counts of a command.
std::string_view commandText(std::string_view message) {
    return message.substr(0, message.find('\0'));
}

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
                 WireProtocol protocol, ScanService& scans, Catalogue& catalogue,
                 std::function<void(std::shared_ptr<Session>)> ended)
    : gui(gui), defaults(defaults), sink(sink), protocol(protocol), scans(scans),
      catalogue(catalogue), ended(std::move(ended)), sampleRate(defaults.sampleRate.load()),
      blockSize(defaults.blockSize.load()),
      slot(makePluginSlot(defaults.placement, gui, *this, sampleRate, blockSize)),
      replies(std::move(sink)) {
    allocateStaging();
}

void Session::greet() {
    if (protocol == WireProtocol::version2) return greetVersion2();
    sink->sendText("corvel studio plugin loader\nversion " CORVEL_VERSION);
}

bool Session::onText(std::string_view message) {
    std::unique_lock<std::mutex> lock(dispatch);
    if (!scanTicket) return handleText(message);
    // Answered after the scan, in order. A message that is no command
    // closes the connection at once, as it would have after the scan.
    if (!isCommand(commandText(message))) return false;
    defer(lock, {false, std::string(message)});
    return true;
}

bool Session::onBinary(const std::vector<uint8_t>& message) {
    std::unique_lock<std::mutex> lock(dispatch);
    if (!scanTicket) return handleBinary(message.data(), message.size());
    defer(lock, {true, std::string(message.begin(), message.end())});
    return true;
}

void Session::defer(std::unique_lock<std::mutex>& lock, Deferred message) {
    // A client that sends on and on while a walk runs waits for it.
    turn.wait(lock, [&] { return closed || !scanTicket || deferredBytes < maxDeferredBytes; });
    if (closed) return;
    if (!scanTicket) {
        if (message.binary) {
            handleBinary(reinterpret_cast<const uint8_t*>(message.bytes.data()),
                         message.bytes.size());
        } else {
            handleText(message.bytes);
        }
        return;
    }
    deferredBytes += message.bytes.size();
    deferred.push_back(std::move(message));
}

bool Session::isCommand(std::string_view message) const {
    if (protocol == WireProtocol::version2) return true;  // a bad request is answered
    static constexpr std::string_view words[] = {"midi",    "showGui",  "scanVSTs", "sampleRate",
                                                 "bufsize", "load",     "unload",   "suspend",
                                                 "resume",  "getState", "setState", "quit"};
    return std::any_of(std::begin(words), std::end(words),
                       [&](std::string_view word) { return startsWith(message, word); });
}

bool Session::handleText(std::string_view message) {
    if (protocol == WireProtocol::version2) {
        handleRequest(message);
        return true;
    }
    message = commandText(message);
    if (message.empty()) return false;

    if (startsWith(message, "midi")) {
        handleMidi(commands::argumentAfter(message, "midi"));
    } else if (startsWith(message, "showGui")) {
        slot->requestEditor();
    } else if (startsWith(message, "scanVSTs")) {
        handleScan(commands::argumentAfter(message, "scanVSTs"));
    } else if (startsWith(message, "sampleRate")) {
        handleSampleRate(commands::argumentAfter(message, "sampleRate"));
    } else if (startsWith(message, "bufsize")) {
        handleBufsize(commands::argumentAfter(message, "bufsize"));
    } else if (startsWith(message, "load")) {
        slot->requestLoad(std::string(commands::argumentAfter(message, "load")), std::nullopt);
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
    commands::forEachMidiEvent(list, Vexa::DSP::VST2Plugin::midiSlots,
                               [this](const commands::MidiEvent& event) {
        const int32_t words[4] = {event.status, event.data1, event.data2,
                                  event.frameOffset.value_or(0)};
        slot->queueMidi(words, event.frameOffset ? 4 : 3);
    });
}

void Session::handleScan(std::string_view folder) {
    startScan(std::string(folder));
}

void Session::startScan(const std::string& folder) {
    scanTicket = scans.request(folder, [self = shared_from_this()](const std::string& reply) {
        self->scanFinished(reply);
    });
}

void Session::scanFinished(const std::string& reply) {
    std::lock_guard<std::mutex> lock(dispatch);
    if (closed) return;
    sendScanReply(reply);
    scanTicket = 0;
    // What came meanwhile, in order, as it would have been handled; it may
    // start another walk, which the rest then waits for.
    while (!scanTicket && !deferred.empty()) {
        const Deferred next = std::move(deferred.front());
        deferred.pop_front();
        deferredBytes -= next.bytes.size();
        if (next.binary) {
            handleBinary(reinterpret_cast<const uint8_t*>(next.bytes.data()), next.bytes.size());
        } else {
            handleText(next.bytes);
        }
    }
    turn.notify_all();
}

void Session::handleSampleRate(std::string_view argument) {
    // An argument that is not one plain number is treated as missing.
    const auto rate = commands::soleDecimalArgument(argument, 1, maxSampleRate);
    if (!rate) return;
    setSampleRate(static_cast<uint32_t>(*rate));
}

void Session::setSampleRate(uint32_t rate) {
    sampleRate = rate;
    defaults.sampleRate.store(rate);
    printSetting("setting Host sample rate to %u\n", rate);
    slot->setSampleRate(rate);
}

void Session::handleBufsize(std::string_view argument) {
    const auto frames = commands::soleDecimalArgument(argument, minBlockSize, maxBlockSize);
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
    allocateStaging();
}

// Replies are built behind the room the connection writes a frame's header
// into, and sized with the block, so no block size allocates.
void Session::allocateStaging() {
    const std::size_t samples = 2 * static_cast<std::size_t>(blockSize);
    if (protocol == WireProtocol::version2) {
        // Outputs are written straight behind room for the reply's header
        // and records.
        blockReply.assign(MessageSink::headroomBytes + maxOutRecordBytes + blockBytes(0), 0);
    } else {
        replyStorage.assign(replyHeadroom + samples, 0.0f);
    }
}

bool Session::handleBinary(const uint8_t* data, std::size_t size) {
    if (pendingSetState) {
        pendingSetState = false;
        if (protocol == WireProtocol::version2) return restoreVersion2(data, size), true;
        slot->requestRestore(data, size);
        return true;
    }
    if (protocol == WireProtocol::version2) return handleBlockVersion2(data, size), true;
    const std::size_t channelBytes = sizeof(float) * blockSize;
    float* reply = replyStorage.data() + replyHeadroom;
    float* outputs[2] = {reply, reply + blockSize};
    PluginSlot::Block result = PluginSlot::Block::notProcessed;
    // A short block would be read past its end: answer it, process nothing.
    if (size >= 2 * channelBytes) {
        // Read where they lie: the slot copies or aligns them as its plug-in needs.
        const float* inputs[2] = {reinterpret_cast<const float*>(data),
                                  reinterpret_cast<const float*>(data + channelBytes)};
        result = slot->process(inputs, outputs, blockSize);
    } else if (!slot->hasPlugin()) {
        result = PluginSlot::Block::noPlugin;
    }
    if (result == PluginSlot::Block::processed) {
        sink->sendBinaryInPlace(reinterpret_cast<uint8_t*>(reply), 2 * channelBytes);
    } else if (result != PluginSlot::Block::noPlugin) {
        sink->sendBinary(nullptr, 0);  // whatever kept it from being processed
    }
    return true;
}

void Session::sendScanReply(const std::string& reply) {
    if (protocol == WireProtocol::version2) {
        auto paths = nlohmann::json::parse(reply, nullptr, false);
        if (!paths.is_array()) paths = nlohmann::json::array();
        if (pendingScan) answerRequest(pendingScan->place, pendingScan->id, {{"paths", paths}});
        pendingScan.reset();
        return;
    }
    sink->sendText(reply);
}

void Session::pluginState(const bridge::StateResult& state) {
    if (protocol == WireProtocol::version2) {
        std::lock_guard<std::mutex> lock(pendingMutex);
        if (!pendingState) return;
        if (state.ok) {
            nlohmann::json reply = {{"id", pendingState->id},
                                    {"ok", true},
                                    {"bytes", state.blob.size()},
                                    {"format", state.chunk ? "chunk" : "parameters"}};
            replies.fill(pendingState->place, reply.dump(), state.blob);
        } else {
            refuseRequest(pendingState->place, pendingState->id, "failed",
                          "The plug-in has no state to give.");
        }
        pendingState.reset();
        return;
    }
    // This protocol's clients know chunks only: a plug-in without one has
    // no state for them, as ever.
    if (!state.ok || !state.chunk) {
        sink->sendText("state failed");
        return;
    }
    sink->sendText("state");
    sink->sendBinary(state.blob.data(), state.blob.size());
}

void Session::pluginLoaded(const bridge::LoadResult& result) {
    if (!result.ok) {
        // The user reads why in the program's output, whatever the client learns.
        std::printf("plug-in not loaded: %s\n", result.reason.c_str());
        std::fflush(stdout);
    }
    if (protocol == WireProtocol::version2) return answerLoad(result);
    if (!result.ok) return;  // clients of this protocol learn of a failed load by silence
    sink->sendText("ready");
    sink->sendText("fixedCompensationDelaySamp\n" + std::to_string(result.latency));
}

void Session::pluginRelaunched(const bridge::LoadResult& result) {
    if (protocol == WireProtocol::version2) {
        if (result.ok)
            sink->sendText(
                nlohmann::json({{"event", "relaunched"}, {"latency", result.latency}}).dump());
        return;
    }
    pluginLoaded(result);
}

void Session::pluginCrashed(const std::string& reason) {
    if (protocol == WireProtocol::version2) return crashedVersion2(reason);
    sink->sendText("crashed\n" + reason);
}

void Session::pluginGaveUp(int crashes) {
    if (protocol == WireProtocol::version2) {
        sink->sendText(nlohmann::json({{"event", "gaveUp"}, {"crashes", crashes}}).dump());
        return;
    }
    sink->sendText("crashed\ngave up after " + std::to_string(crashes) + " crashes");
}

void Session::onClose() {
    {
        std::lock_guard<std::mutex> lock(dispatch);
        closed = true;
        pendingSetState = false;
        if (scanTicket) scans.withdraw(scanTicket);
        withdrawCatalogues();
        deferred.clear();
        turn.notify_all();
    }
    if (ended) ended(shared_from_this());
}
