// Where a session's plug-in runs: in a plug-in process of its own (the
// default), or in this process.
#pragma once

#include <cstdint>
#include <memory>

#include "host/PluginSlot.h"
#include "host/SlotListener.h"
#include "shell/GuiThread.h"

enum class PluginPlacement { ownProcess, inProcess };

// CORVEL_PLUGIN_PLACEMENT=in-process keeps plug-ins in this process.
PluginPlacement placementFromEnvironment();

std::shared_ptr<PluginSlot> makePluginSlot(PluginPlacement placement, GuiThread& gui,
                                           SlotListener& listener, uint32_t sampleRate,
                                           uint32_t blockSize);
