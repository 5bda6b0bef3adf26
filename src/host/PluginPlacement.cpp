#include "host/PluginPlacement.h"

#include <cstdlib>
#include <cstring>

#include "host/InProcessSlot.h"
#include "host/PluginProcessSlot.h"

PluginPlacement placementFromEnvironment() {
    const char* chosen = std::getenv("CORVEL_PLUGIN_PLACEMENT");
    if (chosen && std::strcmp(chosen, "in-process") == 0) return PluginPlacement::inProcess;
    return PluginPlacement::ownProcess;
}

std::shared_ptr<PluginSlot> makePluginSlot(PluginPlacement placement, GuiThread& gui,
                                           SlotListener& listener, uint32_t sampleRate,
                                           uint32_t blockSize) {
    if (placement == PluginPlacement::ownProcess)
        return std::make_shared<PluginProcessSlot>(listener, sampleRate, blockSize);
    return std::make_shared<InProcessSlot>(gui, &listener, &listener, sampleRate, blockSize);
}
