#include "pluginhost/CommandLoop.h"

#include <cstring>
#include <string>

using bridge::Command;

namespace {

uint32_t valueOf(const std::string& payload) {
    uint32_t value = 0;
    if (payload.size() == sizeof value) std::memcpy(&value, payload.data(), sizeof value);
    return value;
}

}  // namespace

void CommandLoop::run() {
    bridge::PipeMessage message;
    while (pipe.receive(message, -1) == bridge::CommandPipe::Read::message) {
        handle(message);
        uint32_t flags = 0;
        if (slot.hasOpenEditor()) flags |= bridge::editorIsOpen;
        if (slot.isSuspended()) flags |= bridge::pluginSuspended;
        pipe.send(static_cast<uint32_t>(bridge::Reply::done), &flags, sizeof flags);
    }
    gui.runAndWait([this] { slot.unload(); });
    gui.quit();
}

void CommandLoop::handle(const bridge::PipeMessage& message) {
    const std::string& payload = message.payload;
    switch (static_cast<Command>(message.kind)) {
        case Command::load: gui.runAndWait([&] { slot.load(payload); }); break;
        case Command::unload: gui.runAndWait([&] { slot.unload(); }); break;
        case Command::getState: gui.runAndWait([&] { slot.sendState(); }); break;
        case Command::setState:
            gui.runAndWait([&] {
                slot.restoreState(reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
            });
            break;
        case Command::showEditor: gui.runAndWait([&] { slot.showEditor(); }); break;
        case Command::closeEditor: gui.runAndWait([&] { slot.closeEditor(); }); break;
        case Command::suspend: slot.suspend(); break;
        case Command::resume: slot.resume(); break;
        case Command::blockSize: slot.setBlockSize(valueOf(payload)); break;
        case Command::sampleRate: slot.setSampleRate(valueOf(payload)); break;
    }
}
