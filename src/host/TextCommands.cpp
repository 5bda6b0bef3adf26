#include <cstdio>
#include <cstring>
#include <string_view>

#include "host/CommandParsing.h"
#include "host/VST2Host.h"
#include "scan/PluginScan.h"
#include "Version.h"

namespace {

bool startsWith(std::string_view message, std::string_view word) {
    return message.substr(0, word.size()) == word;
}

}  // namespace

bool VST2Host::onText(std::string message, std::string& reply) {
    const std::size_t zero = message.find('\0');
    if (zero != std::string::npos) message.resize(zero);
    if (message.empty()) return false;
    const std::string_view text(message);

    if (startsWith(text, "midi")) {
        handleMidi(message);
    } else if (startsWith(text, "showGui")) {
        requestShowGui();
    } else if (startsWith(text, "scanVSTs")) {
        handleScan(message, reply);
    } else if (startsWith(text, "sampleRate")) {
        const std::string_view argument = commands::argumentAt(text, 11);
        const std::size_t start = argument.find_first_not_of(" \t\n\r\v\f");
        const auto rate = commands::leadingInteger(
            start == std::string_view::npos ? std::string_view() : argument.substr(start));
        if (rate && *rate > 0) setSampleRate(*rate);
    } else if (startsWith(text, "bufsize")) {
        handleBufsize(message, reply);
    } else if (startsWith(text, "load")) {
        requestLoad(std::string(commands::argumentAt(text, 5)));
    } else if (startsWith(text, "unload")) {
        requestUnload();
    } else if (startsWith(text, "suspend")) {
        {
            std::lock_guard<std::mutex> lock(pluginMutex);
            if (plugin) plugin->suspend();
        }
        reply = "bypass\ntrue";
    } else if (startsWith(text, "resume")) {
        {
            std::lock_guard<std::mutex> lock(pluginMutex);
            if (plugin) plugin->resume();
        }
        reply = "bypass\nfalse";
    } else if (startsWith(text, "getState")) {
        requestState();
    } else if (startsWith(text, "setState")) {
        pendingSetState = true;
    } else if (startsWith(text, "quit")) {
        requestQuit();
    } else {
        return false;
    }
    return true;
}

void VST2Host::handleMidi(const std::string& message) {
    auto events = commands::midiEvents(commands::argumentAt(message, 5));
    std::lock_guard<std::mutex> lock(pluginMutex);
    if (!plugin) return;
    for (auto& event : events) plugin->queueMidi(std::move(event));
}

void VST2Host::handleScan(const std::string& message, std::string& reply) {
    const std::string folder =
        message.size() == 8 ? std::string() : std::string(commands::argumentAt(message, 9));
    reply = scanReply(folder);
}

void VST2Host::handleBufsize(const std::string& message, std::string& reply) {
    const auto words = commands::splitWords(message);
    if (words.size() < 2) return;
    const auto frames = commands::leadingInteger(words[1]);
    if (!frames || *frames < minBlockSize || *frames > maxBlockSize) return;
    setBlockSize(*frames);
    std::lock_guard<std::mutex> lock(pluginMutex);
    if (plugin) reply = "ready";
}

bool VST2Host::onReady() {
    ipc.sendText("corvel studio plugin loader\nversion " CORVEL_VERSION);
    return true;
}
