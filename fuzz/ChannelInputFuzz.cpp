// libFuzzer target: what a client controls, from frames to command
// arguments. The input's first byte sets how the rest, a client's byte
// stream, is cut into reads; every whole text message is then read as the
// program reads commands, and every Origin-like text as the gate does.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

bool isCloseAnswer(uint16_t status) {
    return status == 0 || status == FrameJoiner::protocolError || status == FrameJoiner::invalidText ||
           (status >= 1000 && status <= 1003) || (status >= 1007 && status <= 1014) ||
           (status >= 3000 && status <= 4999);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // Reads of 1 to 64 bytes, or all at once: frames split anywhere.
    const std::size_t readBytes = data[0] % 65 ? data[0] % 65 : size;
    std::vector<uint8_t> stream(data + 1, data + size);
    FrameJoiner joiner;
    bool ended = false;  // a close was decided: no message may follow
    // A client masks every frame: an unmasked first frame decides nothing but 1002.
    const bool firstUnmasked = stream.size() >= 2 && !(stream[1] & 0x80);
    bool decided = false;
    std::size_t at = 0;
    while (at < stream.size()) {
        const std::size_t length = std::min(readBytes, stream.size() - at);
        std::size_t offset = 0;
        while (offset < length) {
            std::size_t taken = 0;
            const FrameJoiner::Step step = joiner.push(stream.data() + at + offset, length - offset, taken);
            require(taken <= length - offset);
            offset += taken;
            if (step.outcome != FrameJoiner::Outcome::More && !decided) {
                decided = true;
                require(!firstUnmasked ||
                        (step.outcome == FrameJoiner::Outcome::Close && step.closeStatus == FrameJoiner::protocolError));
            }
            switch (step.outcome) {
                case FrameJoiner::Outcome::More:
                    require(offset == length);
                    break;
                case FrameJoiner::Outcome::Text:
                    require(!ended);
                    require(isValidUtf8(joiner.text()) && joiner.text().size() <= FrameJoiner::maxTextBytes);
                    parseAsCommand(joiner.text());
                    joiner.clear();
                    break;
                case FrameJoiner::Outcome::Binary:
                    require(!ended && joiner.binary().size() <= FrameJoiner::maxBinaryBytes);
                    joiner.clear();
                    break;
                case FrameJoiner::Outcome::Close:
                    require(!ended && joiner.text().empty() && joiner.binary().empty());
                    require(step.closeStatus == 0 || step.closeStatus == FrameJoiner::protocolError ||
                            step.closeStatus == FrameJoiner::invalidText || step.closeStatus == FrameJoiner::tooBig);
                    ended = true;
                    break;
                case FrameJoiner::Outcome::ClientClose:
                    require(joiner.text().empty() && joiner.binary().empty());
                    require(ended ? step.closeStatus == 0 : isCloseAnswer(step.closeStatus));
                    ended = true;
                    break;
            }
        }
        at += length;
    }
    parseAsCommand(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
