// Told what a plug-in reported about its parameters on its own (a change
// with the text it now shows, a touch, a change of the whole set), on the
// thread that carries those reports to the session: a slot's event pump, or
// the reader of a plug-in process's pipe. Never the plug-in's audio thread.
#pragma once

#include "bridge/PluginMessages.h"

class PluginEventListener {
public:
    virtual void pluginEvent(const bridge::PluginEvent& event) = 0;

protected:
    ~PluginEventListener() = default;
};
