// The plug-in process's PluginEventListener: passes each event the plug-in
// reports on to the program over the command pipe, and keeps the values it
// changed for a relaunch (bridge::KeptSettings).
#pragma once

#include "bridge/CommandPipe.h"
#include "bridge/PluginMessages.h"
#include "bridge/SharedBlock.h"
#include "host/PluginEventListener.h"

class EventForwarder final : public PluginEventListener {
public:
    EventForwarder(bridge::CommandPipe& pipe, bridge::KeptSettings& kept)
        : pipe(pipe), kept(kept) {}

    // The slot's event pump.
    void pluginEvent(const bridge::PluginEvent& event) override {
        if (event.what == bridge::PluginEvent::Kind::change)
            kept.noteValue(event.index, event.value);
        bridge::send(pipe, event);
    }

private:
    bridge::CommandPipe& pipe;
    bridge::KeptSettings& kept;
};
