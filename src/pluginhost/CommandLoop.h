// The plug-in process's side of the command pipe: reads each typed request,
// runs it on the slot (the plug-in's life cycle on the GUI thread, as in the
// program) and answers with its typed reply and the plug-in's condition.
#pragma once

#include "bridge/CommandPipe.h"
#include "bridge/PluginMessages.h"
#include "bridge/SharedBlock.h"
#include "host/InProcessSlot.h"
#include "shell/EditorIdler.h"
#include "shell/GuiThread.h"

class CommandLoop final : public EditorIdler {
public:
    // kept: what a relaunch brings back, noted as requests change it.
    CommandLoop(bridge::CommandPipe& pipe, GuiThread& gui, InProcessSlot& slot,
                bridge::KeptSettings& kept)
        : pipe(pipe), gui(gui), slot(slot), kept(kept) {}

    // Until the pipe ends or brings what is not a request; then unloads the
    // plug-in and ends the GUI loop.
    void run();

    // GUI thread.
    bool hasOpenEditor() override { return slot.hasOpenEditor(); }
    void idleEditors() override { slot.idleEditor(); }

private:
    // False when the message is no request this process knows.
    bool handle(const bridge::PipeMessage& message);
    // Reads the request, runs it and sends its reply.
    template <class Request, class Run>
    bool answer(const bridge::PipeMessage& message, Run run);
    // Runs on the GUI thread and waits for it.
    template <class Work>
    void onGuiThread(Work work);

    bridge::CommandPipe& pipe;
    GuiThread& gui;
    InProcessSlot& slot;
    bridge::KeptSettings& kept;
};
