// Owns one plug-in module handle and finds the plug-in's effect record in it.
#pragma once

#include <cstdint>
#include <string>

#include "dsp/ModuleLoader.h"
#include "dsp/VST2Interface.h"

namespace Vexa::DSP {

enum class LoadProblem {
    none,
    missing,       // no file the program may read at the path
    notAPlugin,    // not a module, or one without a VST 2 entry point
    otherMachine,  // a module for another processor, word size or system
    wouldNotOpen,  // a plug-in that could not be loaded or opened
};

class VST2PluginBase {
public:
    VST2PluginBase() = default;
    virtual ~VST2PluginBase();
    VST2PluginBase(const VST2PluginBase&) = delete;
    VST2PluginBase& operator=(const VST2PluginBase&) = delete;

    struct Entry {
        VST2::AEffect* effect = nullptr;
        // Why there is no record; the reason is for the user.
        LoadProblem problem = LoadProblem::none;
        std::string reason;
    };

    // Judges the file first (dsp/ModuleJudgement.h) and loads only a module
    // of this process's kind that exports an entry point, so nothing of
    // another module ever runs. Then calls the entry point ("VSTPluginMain",
    // else "main") with the host callback; a shell module hears shellId (0:
    // the shell itself) when it asks which plug-in to build.
    Entry loadModule(const std::string& path, int32_t shellId = 0);

    ModuleHandle module = nullptr;
};

}  // namespace Vexa::DSP
