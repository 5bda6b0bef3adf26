// Which plug-in process executable runs a module, chosen from the module's
// header before anything loads it (per platform: host/posix, host/win32).
#pragma once

#include <string>

struct PluginHostChoice {
    std::string executable;  // the file name beside the program's own
    std::string refusal;     // why no plug-in process can load it; empty when one can
};

PluginHostChoice choosePluginHost(const std::string& modulePath);
