// libFuzzer target: what a client and a user's files control. The input is
// a run of frames, each a header byte, a length byte and that many payload
// bytes. Every whole message goes through the real dispatcher (Session,
// with its plug-in stood in for), every text through the command parsers,
// and as headers through the origin gate and as a file through the
// allow-list parser.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "fuzz/DispatchCheck.h"
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
const char listedOrigins[] = "# the studio\nhttps://daw.example:8443\n  HTTP://Other.Example # and one more\n";

void parseAsCommand(std::string_view text) {
    const auto rate = commands::decimalArgument(text, 1, 768000);
    require(!rate || (*rate >= 1 && *rate <= 768000));
    const auto sole = commands::soleDecimalArgument(text, 1, 16384);
    require(!sole || (*sole >= 1 && *sole <= 16384));
    // A whole integer is a number word without a fraction, and prints back to one.
    const auto whole = commands::wholeInteger(text);
    require(!whole || (commands::decimalArgument(text, INT32_MIN, INT32_MAX) == whole &&
                       commands::wholeInteger(std::to_string(*whole)) == whole && text.find('.') == text.npos));
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
                      (firstLine.size() < text.size() && AllowList::names(text.substr(firstLine.size() + 1), origin))));
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
    const bool welcome = isLoopbackHost(host, port) &&
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

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The session prints a line per setting; the fuzzer's own output is on
    // standard error.
    return std::freopen("/dev/null", "w", stdout) ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    // One scan thread for the whole run: one per input cut the rate from
    // about 2700 inputs a second to 1700.
    static ScanService scans;
    FrameJoiner joiner;
    DispatchCheck dispatch(scans);
    OriginGate gate(port, AllowList(allowListFile()));
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
            dispatch.text(joiner.text());
            checkAsHandshake(gate, joiner.text());
            joiner.clear();
        } else if (step.outcome == FrameJoiner::Outcome::Binary) {
            require(joiner.binary().size() <= FrameJoiner::maxBinaryBytes);
            dispatch.binary(joiner.binary());
            joiner.clear();
        } else if (step.outcome == FrameJoiner::Outcome::Close) {
            require(joiner.text().empty() && joiner.binary().empty());
            joiner = FrameJoiner();
        }
    }
    const std::string_view whole(reinterpret_cast<const char*>(data), size);
    parseAsCommand(whole);
    parseAsAllowList(whole);
    dispatch.text(whole);
    return 0;
}
