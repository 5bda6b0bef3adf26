// The plug-in process's audio thread: waits for each block in the shared
// region, runs it through the slot and hands the result back.
#pragma once

#include <vector>

#include "bridge/BlockSignal.h"
#include "bridge/SharedRegion.h"
#include "host/InProcessSlot.h"

class AudioLoop {
public:
    // Takes the slot to the region's channels.
    AudioLoop(bridge::SharedRegion& region, InProcessSlot& slot);

    // Never returns: the process ends around it.
    [[noreturn]] void run();

private:
    void takeRecords();

    bridge::SharedBlock& block;
    InProcessSlot& slot;
    std::vector<float*> inputs;  // the region's channels, laid out once
    std::vector<float*> outputs;
    bridge::SpinBudget spin;
};
