#include "HostSession.h"

#include <csignal>
#include <cstdlib>

#include <cstring>

namespace compat {

using testing_support::WsMessage;

namespace {

const std::string banner = "corvel studio plugin loader\nversion 0.1.0";

// The scan reply is a JSON array of strings; the paths here need no escapes
// beyond the two that JSON always has.
std::set<std::string> pathsOf(const std::string& json) {
    std::set<std::string> paths;
    std::string current;
    bool inString = false;
    for (std::size_t i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (!inString) {
            if (c == '"') inString = true;
            continue;
        }
        if (c == '\\' && i + 1 < json.size()) {
            current += json[++i];
        } else if (c == '"') {
            paths.insert(current);
            current.clear();
            inString = false;
        } else {
            current += c;
        }
    }
    return paths;
}

}  // namespace

HostSession::HostSession(bool useDisplay) : useDisplay(useDisplay) {}

HostSession::~HostSession() {
    client.disconnect();
    if (program && program->running()) {
        program->signal(SIGTERM);
        program->waitExit(5000);
    }
}

bool HostSession::start(std::string& error) {
    // The default folders only: what a user without a plug-in path gets.
    std::map<std::string, std::string> environment = {{"LXVST_PATH", ""}, {"VST_PATH", ""}};
    if (!useDisplay) environment["DISPLAY"] = "";
    environment[heapGaugeVariable] = gauge.path();
    const char* preload = std::getenv("LD_PRELOAD");
    environment["LD_PRELOAD"] = std::string(CORVEL_HEAP_GAUGE_LIBRARY) +
                                (preload && *preload ? std::string(":") + preload : "");
    program = std::make_unique<testing_support::ProgramUnderTest>(environment);
    if (!program->start()) {
        error = "the program did not start: " + program->errors();
        return false;
    }
    if (useDisplay) {
        display = std::make_unique<testing_support::X11WindowProbe>();
        if (!display->available()) display.reset();
        if (display) display->onlyProcess(program->processId());
    }
    if (!client.connect(program->port(), 20000)) {
        error = "cannot connect to the program";
        return false;
    }
    try {
        if (receiveText(20000, "the banner") != banner) {
            error = "wrong banner";
            return false;
        }
        send("sampleRate " + std::to_string(sampleRate));
        send("bufsize " + std::to_string(blockFrames));
        send("scanVSTs");
        scanned = pathsOf(receiveText(20000, "the scan reply"));
    } catch (const SessionBroken& failure) {
        error = failure.what();
        return false;
    }
    return true;
}

void HostSession::broken(const std::string& what) {
    std::string message = what;
    if (!program->running()) message += "; the program " + endReason();
    throw SessionBroken(message);
}

std::string HostSession::endReason() {
    if (program->running()) return "is still running";
    const auto status = program->waitExit(0);
    if (!status) return "ended";
    if (*status > 128) {
        const char* name = strsignal(*status - 128);
        return "ended with signal " + std::to_string(*status - 128) + " (" + (name ? name : "?") + ")";
    }
    return "exited with status " + std::to_string(*status);
}

void HostSession::send(const std::string& text) {
    if (!client.sendText(text)) broken("cannot send \"" + text.substr(0, 40) + "\"");
}

void HostSession::sendBinary(const std::string& bytes) {
    if (!client.sendBinary(bytes)) broken("cannot send a binary message");
}

WsMessage HostSession::receive(int timeoutMs, const std::string& waitingFor) {
    auto message = client.receive(timeoutMs);
    if (!message) broken("no reply within " + std::to_string(timeoutMs) + " ms (" + waitingFor + ")");
    if (message->opcode == 8) broken("connection closed while waiting for " + waitingFor);
    return *message;
}

std::string HostSession::receiveText(int timeoutMs, const std::string& waitingFor) {
    WsMessage message = receive(timeoutMs, waitingFor);
    if (!message.isText()) broken("a binary message came instead of " + waitingFor);
    return message.payload;
}

std::string HostSession::receiveBinary(int timeoutMs, const std::string& waitingFor) {
    WsMessage message = receive(timeoutMs, waitingFor);
    if (!message.isBinary())
        broken("text \"" + message.payload.substr(0, 40) + "\" came instead of " + waitingFor);
    return message.payload;
}

Block HostSession::roundTrip(const Block& block) {
    if (!client.sendBinary(block)) broken("cannot send an audio block");
    return testing_support::floatsOf(receiveBinary(10000, "an audio reply"));
}

void HostSession::expectAlive(const std::string& after) {
    send("resume");
    const std::string reply = receiveText(10000, "the reply to \"resume\" " + after);
    if (reply != "bypass\nfalse") broken("\"resume\" " + after + " was answered \"" + reply + "\"");
}

}  // namespace compat
