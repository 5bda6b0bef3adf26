#include "host/PluginPlacement.h"

#include <cstdlib>
#include <cstring>

#include "host/InProcessSlot.h"
#ifndef _WIN32
#include "host/PluginProcessSlot.h"
#endif

PluginPlacement placementFromEnvironment() {
    const char* chosen = std::getenv("CORVEL_PLUGIN_PLACEMENT");
    if (chosen && std::strcmp(chosen, "in-process") == 0) return PluginPlacement::inProcess;
    return PluginPlacement::ownProcess;
}

std::shared_ptr<PluginSlot> makePluginSlot(PluginPlacement placement, GuiThread& gui,
                                           std::shared_ptr<MessageSink> sink,
                                           uint32_t sampleRate, uint32_t blockSize) {
#ifndef _WIN32
    // The Windows plug-in process is not written yet: plug-ins stay in this
    // process there.
    if (placement == PluginPlacement::ownProcess)
        return std::make_shared<PluginProcessSlot>(std::move(sink), sampleRate, blockSize);
#else
    (void)placement;
#endif
    return std::make_shared<InProcessSlot>(gui, std::move(sink), sampleRate, blockSize);
}
