// Which plug-in process runs a module, chosen from the module's header
// before anything loads it (per platform: host/posix, host/win32). A module
// that the chosen one cannot load fails there, with the reason.
#pragma once

#include <string>

#include "dsp/ModuleJudgement.h"

struct PluginHostChoice {
    // The executable's file name, beside the program's own.
    std::string executable;
    // The module judged for that executable's word size: ok when it may
    // load it, else the refusal it would give.
    Vexa::DSP::ModuleJudgement judgement;
};

// Reads the module's headers only; never runs its code.
PluginHostChoice choosePluginHost(const std::string& modulePath);
