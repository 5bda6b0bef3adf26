// The plug-in process's replies for the client: carried back on the
// command pipe for the program to send on.
#pragma once

#include "bridge/CommandPipe.h"
#include "websocket/MessageSink.h"

class PipeSink final : public MessageSink {
public:
    explicit PipeSink(bridge::CommandPipe& pipe) : pipe(pipe) {}
    void sendText(std::string_view text) override;
    void sendBinary(const void* data, std::size_t length) override;

private:
    bridge::CommandPipe& pipe;
};
