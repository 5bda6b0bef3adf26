// Which plug-in process executable runs a module, chosen from the module's
// header before anything loads it (per platform: host/posix, host/win32).
// A module that the chosen one cannot load fails there, with the reason.
#pragma once

#include <string>

// The executable's file name, beside the program's own.
std::string pluginHostFor(const std::string& modulePath);
