#include "fuzz/DispatchCheck.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "dsp/VST2Plugin.h"

namespace {

using Calls = std::vector<std::string>;

const std::string_view commandWords[] = {"midi",    "showGui",  "scanVSTs", "sampleRate",
                                         "bufsize", "load",     "unload",   "suspend",
                                         "resume",  "getState", "setState", "quit"};

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::vector<std::string_view> wordsOf(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isSpace(text[i])) ++i;
        const std::size_t start = i;
        while (i < text.size() && !isSpace(text[i])) ++i;
        if (i > start) words.push_back(text.substr(start, i - start));
    }
    return words;
}

// A signed decimal word, with a fraction after '.' when allowed (dropped):
// its integer part, when that is within lowest..highest.
std::optional<int32_t> numberWord(std::string_view word, bool fraction, int64_t lowest,
                                  int64_t highest) {
    std::size_t i = (!word.empty() && (word[0] == '+' || word[0] == '-')) ? 1 : 0;
    const std::size_t digits = i;
    while (i < word.size() && isDigit(word[i])) ++i;
    if (i == digits) return std::nullopt;
    const std::string integer(word.substr(0, i));
    if (fraction && i < word.size() && word[i] == '.') {
        ++i;
        while (i < word.size() && isDigit(word[i])) ++i;
    }
    if (i != word.size()) return std::nullopt;
    errno = 0;
    const long long value = std::strtoll(integer.c_str(), nullptr, 10);
    if (errno == ERANGE || value < lowest || value > highest) return std::nullopt;
    return static_cast<int32_t>(value);
}

// The one number of a sampleRate or bufsize argument.
std::optional<int32_t> soleNumber(std::string_view argument, int32_t lowest, int32_t highest) {
    const auto words = wordsOf(argument);
    if (words.size() != 1) return std::nullopt;
    return numberWord(words[0], true, lowest, highest);
}

struct Event {
    std::array<int32_t, 4> words{};
    std::size_t count = 0;
};

// The events of a "midi" list that reach the plug-in.
std::vector<Event> midiEvents(std::string_view list) {
    std::vector<Event> events;
    for (std::size_t bar = list.find('|'); bar != std::string_view::npos; bar = list.find('|')) {
        const auto words = wordsOf(list.substr(0, bar));
        list.remove_prefix(bar + 1);
        Event event;
        bool whole = words.size() >= 3;
        for (std::size_t i = 0; whole && i < words.size(); ++i) {
            const auto value = numberWord(words[i], false, INT32_MIN, INT32_MAX);
            whole = value.has_value();
            if (whole && i < 4) event.words[i] = *value;
        }
        if (!whole || event.words[0] < 128 || event.words[0] > 255 || event.words[1] < 0 ||
            event.words[1] > 127 || event.words[2] < 0 || event.words[2] > 127)
            continue;
        event.count = words.size() == 4 ? 4 : 3;
        if (event.count == 3) event.words[3] = 0;
        events.push_back(event);
        if (events.size() == Vexa::DSP::VST2Plugin::midiSlots) break;
    }
    return events;
}

}  // namespace

DispatchCheck::DispatchCheck(ScanService& scans, Catalogue& catalogue)
    : scans(scans), catalogue(catalogue) {
    start();
}

void DispatchCheck::start() {
    // A small first block, so that blocks larger than it fit in an input.
    defaults.blockSize.store(16);
    sink = std::make_shared<FuzzSink>();
    session = std::make_shared<Session>(gui, defaults, sink, WireProtocol::original, scans,
                                        catalogue, nullptr);
    require(gui.journal.frames == defaults.blockSize.load());
}

void DispatchCheck::text(std::string_view message) {
    SlotJournal& journal = gui.journal;
    const bool hadPlugin = journal.plugin;
    const uint32_t frames = journal.frames;
    const int quits = gui.quits;
    journal.startMessage();
    sink->clear();
    const bool served = session->onText(message);

    const std::string_view cut = message.substr(0, message.find('\0'));
    std::string_view word;
    for (std::string_view candidate : commandWords)
        if (cut.substr(0, candidate.size()) == candidate) {
            word = candidate;
            break;
        }
    require(served == !word.empty());
    if (!served) {
        require(journal.calls.empty() && sink->texts.empty());
        return;
    }
    // An argument only after white space: "sampleRate48000" has none.
    const std::string_view argument = cut.size() > word.size() && isSpace(cut[word.size()])
                                          ? cut.substr(word.size() + 1)
                                          : std::string_view();
    const Calls& calls = journal.calls;
    const std::vector<std::string>& texts = sink->texts;
    require(sink->binaries.size() == (word == "getState" && hadPlugin ? 1u : 0u));
    require(gui.quits == quits + (word == "quit" ? 1 : 0));

    if (word == "midi") {
        const std::vector<Event> expected = midiEvents(argument);
        require(calls == Calls(expected.size(), "queueMidi") && texts.empty());
        for (std::size_t i = 0; i < expected.size(); ++i)
            require(journal.midi[i] == expected[i].words &&
                    journal.midiCounts[i] == expected[i].count);
    } else if (word == "scanVSTs") {
        // Answered from the scan thread; nothing else is sent meanwhile.
        sink->awaitText();
        require(calls.empty() && texts == Calls{fuzzScanReply(std::string(argument))});
    } else if (word == "sampleRate") {
        const auto rate = soleNumber(argument, 1, Session::maxSampleRate);
        require(calls == (rate ? Calls{"setSampleRate"} : Calls{}) && texts.empty());
        require(!rate || (*journal.sampleRate == uint32_t(*rate) &&
                          defaults.sampleRate.load() == uint32_t(*rate)));
    } else if (word == "bufsize") {
        const auto size = soleNumber(argument, Session::minBlockSize, Session::maxBlockSize);
        const bool changed = size && uint32_t(*size) != frames;
        require(calls == (changed ? Calls{"setBlockSize"} : Calls{}));
        require(texts == (size && hadPlugin ? Calls{"ready"} : Calls{}));
        require(!size || (journal.frames == uint32_t(*size) &&
                          defaults.blockSize.load() == uint32_t(*size)));
    } else if (word == "load") {
        // The stand-in loads any path but the empty one, its latency the path's length.
        require(calls == Calls{"requestLoad"} && journal.loadPath == argument);
        require(texts == (argument.empty() ? Calls{}
                                           : Calls{"ready", "fixedCompensationDelaySamp\n" +
                                                                std::to_string(argument.size())}));
    } else if (word == "getState") {
        // The stand-in's state is the loaded path, as one binary message after "state".
        require(calls == Calls{"requestState"} && texts == (hadPlugin ? Calls{"state"} : Calls{}));
        require(!hadPlugin || sink->binaries[0] == journal.loadPath.size());
    } else if (word == "suspend" || word == "resume") {
        require(calls == Calls{std::string(word)});
        require(texts == Calls{word == "suspend" ? "bypass\ntrue" : "bypass\nfalse"});
    } else if (word == "setState" || word == "quit") {
        require(calls.empty() && texts.empty());
        restoreArmed = restoreArmed || word == "setState";
    } else {
        const char* call = word == "showGui" ? "requestEditor" : "requestUnload";
        require(calls == Calls{call} && texts.empty());
    }
}

void DispatchCheck::binary(const std::vector<uint8_t>& message) {
    SlotJournal& journal = gui.journal;
    journal.startMessage();
    sink->clear();
    session->onBinary(message);
    const Calls& calls = journal.calls;
    require(sink->texts.empty());
    if (restoreArmed) {
        restoreArmed = false;
        require(calls == Calls{"requestRestore"} && journal.restored == message &&
                sink->binaries.empty());
        return;
    }
    // Every block is answered once while a plug-in is there: the processed
    // block, or an empty message when it was not processed.
    const std::size_t blockBytes = 8 * std::size_t(journal.frames);
    const bool whole = message.size() >= blockBytes;
    require(calls == (whole ? Calls{"process"} : Calls{}));
    require(!whole || journal.processedFrames == journal.frames);
    std::vector<std::size_t> expected;
    if (journal.plugin) expected.push_back(whole && !journal.suspended ? blockBytes : 0);
    require(sink->binaries == expected);
}
