// libFuzzer target: what a client controls, from frames to command
// arguments. The input is a run of frames, each a header byte, a length
// byte and that many payload bytes; every whole text message is then read
// as the program reads commands, and every Origin-like text as the gate does.
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/CommandParsing.h"
#include "websocket/FrameJoiner.h"
#include "scan/ScanReply.h"
#include "text/Utf8.h"
#include "trust/LoopbackHost.h"
#include "trust/OriginText.h"

namespace {

void require(bool condition) {
    if (!condition) __builtin_trap();
}

void parseAsCommand(std::string_view text) {
    const auto rate = commands::decimalArgument(text, 1, 768000);
    require(!rate || (*rate >= 1 && *rate <= 768000));
    std::size_t seen = 0;
    const std::size_t limit = text.size() % 7;
    const std::size_t delivered =
        commands::forEachMidiEvent(text, limit, [&](const commands::MidiEvent& event) {
            require(event.status >= 128 && event.data1 <= 127 && event.data2 <= 127);
            require(!event.frameOffset || *event.frameOffset >= 0);
            ++seen;
        });
    require(delivered == seen && delivered <= limit);
    for (std::string_view word : commands::splitWords(text)) require(!word.empty());
    const std::string origin = canonicalOrigin(text);
    require(origin.empty() || canonicalOrigin(origin) == origin);
    isLoopbackHost(text, 9001);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FrameJoiner joiner;
    std::size_t i = 0;
    while (i + 2 <= size) {
        const int header = data[i];
        const std::size_t length = std::min<std::size_t>(data[i + 1], size - i - 2);
        const char* payload = reinterpret_cast<const char*>(data + i + 2);
        i += 2 + length;
        const FrameJoiner::Step step = joiner.push(header, payload, length);
        if (step.outcome == FrameJoiner::Outcome::Text) {
            require(isValidUtf8(joiner.text()) && joiner.text().size() <= FrameJoiner::maxTextBytes);
            parseAsCommand(joiner.text());
            joiner.clear();
        } else if (step.outcome == FrameJoiner::Outcome::Binary) {
            require(joiner.binary().size() <= FrameJoiner::maxBinaryBytes);
            joiner.clear();
        } else if (step.outcome == FrameJoiner::Outcome::Close) {
            require(joiner.text().empty() && joiner.binary().empty());
            joiner = FrameJoiner();
        }
    }
    parseAsCommand(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
