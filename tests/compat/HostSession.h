// One running program and its client, talked to as a browser would, with
// every wait bounded: a crash, a hang or a reply out of order ends the
// session (SessionBroken) and the runner starts a new one.
#pragma once

#include <memory>
#include <set>
#include <stdexcept>
#include <string>

#include "HeapGauge.h"
#include "ProgramUnderTest.h"
#include "Signals.h"
#include "WsClient.h"
#include "X11WindowProbe.h"

namespace compat {

struct SessionBroken : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class HostSession {
public:
    static constexpr uint32_t sampleRate = 48000;
    static constexpr uint32_t blockFrames = 256;

    explicit HostSession(bool useDisplay);
    ~HostSession();

    // Starts the program, takes the banner, sets 48 kHz and 256-frame blocks
    // and scans the plug-in folders.
    bool start(std::string& error);
    bool listed(const std::string& path) const { return scanned.count(path) > 0; }
    long pid() const { return program->processId(); }
    bool running() { return program && program->running(); }
    testing_support::X11WindowProbe* screen() { return display.get(); }
    // Heap bytes in use in the program, from the preloaded gauge.
    int64_t heapBytes() const { return gauge.bytesInUse(); }

    void send(const std::string& text);
    void sendBinary(const std::string& bytes);
    testing_support::WsMessage receive(int timeoutMs, const std::string& waitingFor);
    std::string receiveText(int timeoutMs, const std::string& waitingFor);
    std::string receiveBinary(int timeoutMs, const std::string& waitingFor);
    // One block out and its reply back; empty when the block was not processed.
    Block roundTrip(const Block& block);
    // "resume" is always answered: proves every earlier message was handled.
    void expectAlive(const std::string& after);

    // How the program ended, for a report ("ended with signal 11").
    std::string endReason();
    std::string errors() { return program ? program->errors() : std::string(); }

private:
    [[noreturn]] void broken(const std::string& what);

    bool useDisplay;
    HeapGauge gauge;
    std::unique_ptr<testing_support::ProgramUnderTest> program;
    testing_support::WsClient client;
    std::unique_ptr<testing_support::X11WindowProbe> display;
    std::set<std::string> scanned;
};

}  // namespace compat
