// Drives one plug-in through a running instance of the real program, aspect
// by aspect, as a client and a user at the screen would.
#pragma once

#include <map>
#include <string>

#include "CompatProgram.h"

namespace compat {

struct CheckOptions {
    std::string kind;        // effect, reverb, passthrough, instrument, ...
    std::string pluginHost;  // the plug-in process's executable that must run it
    int reloads = 0;         // loads and unloads after the first unload
};

// Every aspect's outcome for the plug-in at path; load failing leaves the
// rest "none".
std::map<std::string, Outcome> checkPlugin(CompatProgram& program, const std::string& path,
                                           const CheckOptions& options);

}  // namespace compat
