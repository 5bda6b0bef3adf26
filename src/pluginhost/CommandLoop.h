// The plug-in process's side of the command pipe: each command runs on the
// slot (the plug-in's life cycle on the GUI thread, as in the program) and
// is answered with "done" and the plug-in's condition.
#pragma once

#include "bridge/CommandPipe.h"
#include "host/InProcessSlot.h"
#include "shell/EditorIdler.h"
#include "shell/GuiThread.h"

class CommandLoop final : public EditorIdler {
public:
    CommandLoop(bridge::CommandPipe& pipe, GuiThread& gui, InProcessSlot& slot)
        : pipe(pipe), gui(gui), slot(slot) {}

    // Until the pipe ends; then unloads the plug-in and ends the GUI loop.
    void run();

    // GUI thread.
    bool hasOpenEditor() override { return slot.hasOpenEditor(); }
    void idleEditors() override { slot.idleEditor(); }

private:
    void handle(const bridge::PipeMessage& message);

    bridge::CommandPipe& pipe;
    GuiThread& gui;
    InProcessSlot& slot;
};
