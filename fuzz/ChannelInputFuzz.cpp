// libFuzzer target: what a client and a user's files control. The input's
// first byte sets how the rest, a client's byte stream, is cut into reads.
// Every whole message goes through the real dispatcher (Session, with its
// plug-in stood in for), every text through the command parsers, and as
// headers through the origin gate and as a file through the allow-list
// parser.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/DispatchCheck.h"
#include "host/Catalogue.h"
#include "host/CommandParsing.h"
#include "host/ScanService.h"
#include "text/Utf8.h"
#include "trust/AllowList.h"
#include "trust/LoopbackHost.h"
#include "trust/OriginGate.h"
#include "trust/OriginText.h"
#include "websocket/FrameJoiner.h"

namespace {

constexpr uint16_t port = 9001;
const char listedOrigins[] =
    "# the studio\nhttps://daw.example:8443\n  HTTP://Other.Example # and one more\n";

void parseAsCommand(std::string_view text) {
    const auto rate = commands::decimalArgument(text, 1, 768000);
    require(!rate || (*rate >= 1 && *rate <= 768000));
    const auto sole = commands::soleDecimalArgument(text, 1, 16384);
    require(!sole || (*sole >= 1 && *sole <= 16384));
    // A whole integer is a number word without a fraction, and prints back to one.
    const auto whole = commands::wholeInteger(text);
    require(!whole || (commands::decimalArgument(text, INT32_MIN, INT32_MAX) == whole &&
                       commands::wholeInteger(std::to_string(*whole)) == whole &&
                       text.find('.') == text.npos));
    std::size_t seen = 0;
    const std::size_t limit = text.size() % 7;
    const std::size_t delivered =
        commands::forEachMidiEvent(text, limit, [&](const commands::MidiEvent& event) {
            require(event.status >= 128 && event.data1 <= 127 && event.data2 <= 127);
            ++seen;
        });
    require(delivered == seen && delivered <= limit);
    const std::string origin = canonicalOrigin(text);
    require(origin.empty() || canonicalOrigin(origin) == origin);
}

// The text as an allow-list file: a line names an origin whatever the
// lines around it hold, and only canonical origins are ever named.
void parseAsAllowList(std::string_view text) {
    const std::string_view firstLine = text.substr(0, text.find('\n'));
    const std::string origin = canonicalOrigin(firstLine);
    const bool named = AllowList::names(text, origin);
    require(!named || (!origin.empty() && canonicalOrigin(origin) == origin));
    if (origin.empty()) return;
    require(named == (AllowList::names(firstLine, origin) ||
                      (firstLine.size() < text.size() &&
                       AllowList::names(text.substr(firstLine.size() + 1), origin))));
    require(AllowList::names(std::string(text) + "\n" + origin + "\n", origin));
}

// The text as a handshake's headers: the Host up to the first line feed,
// the Origin after it (none without one). A client is let in exactly when
// its Host is this computer and it is a native program, the program's own
// page or a listed origin; a refusal is one line for the client and one
// for the log.
void checkAsHandshake(OriginGate& gate, std::string_view text) {
    const std::size_t feed = text.find('\n');
    const std::string_view host = text.substr(0, feed);
    const std::optional<std::string_view> origin =
        feed == std::string_view::npos ? std::nullopt : std::optional(text.substr(feed + 1));
    const std::optional<HandshakeRefusal> refusal = gate.check(host, origin);
    const std::string canonical = origin ? canonicalOrigin(*origin) : "";
    const bool welcome =
        isLoopbackHost(host, port) &&
        (!origin || canonical == "http://127.0.0.1:9001" || canonical == "http://localhost:9001" ||
         canonical == "https://daw.example:8443" || canonical == "http://other.example");
    require(welcome == !refusal);
    if (!refusal) return;
    require(refusal->httpStatus == 403 && refusal->body.rfind("Refused: ", 0) == 0);
    for (char c : refusal->body) require(c >= ' ' && c <= '~');
    const std::string& line = refusal->logLine;
    require(line.rfind("WS refused ", 0) == 0 && line.find('\n') == line.size() - 1);
}

// The gate's allow-list: a real file, written once
// (CORVEL_FUZZ_ALLOW_LIST, else in the temporary folder).
const std::string& allowListFile() {
    static const std::string path = [] {
        const char* chosen = std::getenv("CORVEL_FUZZ_ALLOW_LIST");
        std::string file = chosen && *chosen ? chosen : "/tmp/corvel-fuzz-allow-list";
        std::ofstream(file, std::ios::binary | std::ios::trunc) << listedOrigins;
        return file;
    }();
    return path;
}

bool isCloseAnswer(uint16_t status) {
    return status == 0 || status == FrameJoiner::protocolError ||
           status == FrameJoiner::invalidText || (status >= 1000 && status <= 1003) ||
           (status >= 1007 && status <= 1014) || (status >= 3000 && status <= 4999);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The session prints a line per setting; the fuzzer's own output is on
    // standard error.
    return std::freopen("/dev/null", "w", stdout) ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // One scan thread for the whole run: one per input cut the rate from
    // about 2700 inputs a second to 1700.
    static ScanService scans;
    static Catalogue catalogue(Catalogue::Options{});  // in memory: the fuzzer writes no cache
    FrameJoiner joiner;
    DispatchCheck dispatch(scans, catalogue);
    OriginGate gate(port, AllowList(allowListFile()));
    // Reads of 1 to 64 bytes, or all at once: frames split anywhere.
    const std::size_t readBytes = data[0] % 65 ? data[0] % 65 : size;
    std::vector<uint8_t> stream(data + 1, data + size);
    bool ended = false;  // a close was decided: no message may follow
    // A client masks every frame: an unmasked first frame decides nothing but 1002.
    const bool firstUnmasked = stream.size() >= 2 && !(stream[1] & 0x80);
    bool decided = false;
    for (std::size_t at = 0; at < stream.size();) {
        const std::size_t length = std::min(readBytes, stream.size() - at);
        for (std::size_t offset = 0; offset < length;) {
            std::size_t taken = 0;
            const FrameJoiner::Step step =
                joiner.push(stream.data() + at + offset, length - offset, taken);
            require(taken <= length - offset);
            offset += taken;
            if (step.outcome != FrameJoiner::Outcome::More && !decided) {
                decided = true;
                require(!firstUnmasked || (step.outcome == FrameJoiner::Outcome::Close &&
                                           step.closeStatus == FrameJoiner::protocolError));
            }
            switch (step.outcome) {
                case FrameJoiner::Outcome::More:
                    require(offset == length);
                    break;
                case FrameJoiner::Outcome::Text:
                    require(!ended);
                    require(isValidUtf8(joiner.text()) &&
                            joiner.text().size() <= FrameJoiner::maxTextBytes);
                    parseAsCommand(joiner.text());
                    dispatch.text(joiner.text());
                    checkAsHandshake(gate, joiner.text());
                    joiner.clear();
                    break;
                case FrameJoiner::Outcome::Binary:
                    require(!ended && joiner.binary().size() <= FrameJoiner::maxBinaryBytes);
                    dispatch.binary(joiner.binary());
                    joiner.clear();
                    break;
                case FrameJoiner::Outcome::Close:
                    require(!ended && joiner.text().empty() && joiner.binary().empty());
                    require(step.closeStatus == 0 ||
                            step.closeStatus == FrameJoiner::protocolError ||
                            step.closeStatus == FrameJoiner::invalidText ||
                            step.closeStatus == FrameJoiner::tooBig);
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
    const std::string_view whole(reinterpret_cast<const char*>(data), size);
    parseAsCommand(whole);
    parseAsAllowList(whole);
    dispatch.text(whole);
    return 0;
}
