// What a plug-in slot tells its session on its own: outcomes of queued work
// and of crashes, called on the thread the slot runs its plug-in's life
// cycle on (the GUI thread, or the slot's command thread); and what the
// plug-in reports about its parameters (PluginEventListener). The session
// outlives every call, since it unloads the slot before it goes.
#pragma once

#include <string>

#include "bridge/PluginMessages.h"
#include "host/PluginEventListener.h"

class SlotListener : public PluginEventListener {
public:
    // After requestLoad.
    virtual void pluginLoaded(const bridge::LoadResult& result) = 0;
    // After a relaunch brought the plug-in back (or failed to).
    virtual void pluginRelaunched(const bridge::LoadResult& result) = 0;
    // What requestState read, before requestState returns; any crash it
    // caused is told after it.
    virtual void pluginState(const bridge::StateResult& state) = 0;
    // The plug-in process was lost: "signal 11", "no answer within 2 s".
    virtual void pluginCrashed(const std::string& reason) = 0;
    // It was lost crashes times within the crash window; the session has
    // no plug-in until the next load.
    virtual void pluginGaveUp(int crashes) = 0;

protected:
    ~SlotListener() = default;
};
