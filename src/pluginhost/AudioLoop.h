// The plug-in process's audio thread: waits for each block in the shared
// region, runs it through the slot and hands the result back.
#pragma once

#include "bridge/BlockSignal.h"
#include "bridge/SharedBlock.h"
#include "host/InProcessSlot.h"

class AudioLoop {
public:
    AudioLoop(bridge::SharedBlock& block, InProcessSlot& slot) : block(block), slot(slot) {}

    // Never returns: the process ends around it.
    [[noreturn]] void run();

private:
    bridge::SharedBlock& block;
    InProcessSlot& slot;
    bridge::SpinBudget spin;
};
