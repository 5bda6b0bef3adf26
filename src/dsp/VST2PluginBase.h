// Owns one plug-in module handle and finds the plug-in's effect record in it.
#pragma once

#include <string>

#include "dsp/ModuleLoader.h"
#include "dsp/VST2Interface.h"

namespace Vexa::DSP {

class VST2PluginBase {
public:
    VST2PluginBase() = default;
    virtual ~VST2PluginBase();
    VST2PluginBase(const VST2PluginBase&) = delete;
    VST2PluginBase& operator=(const VST2PluginBase&) = delete;

    // Loads the module and calls its entry point ("VSTPluginMain", else
    // "main") with the host callback. Null when either step fails.
    VST2::AEffect* loadModule(const std::string& path);

    ModuleHandle module = nullptr;
};

}  // namespace Vexa::DSP
