// Drives plug-ins through the program: one program for many plug-ins, a
// fresh one after a crash or a hang, and when plug-ins have left too many
// files open.
#pragma once

#include <memory>
#include <string>

#include "HostSession.h"
#include "Manifest.h"
#include "PluginCatalog.h"
#include "Results.h"

namespace compat {

struct Runner {
    std::unique_ptr<HostSession> session;
    int sessions = 0;

    // Drives one plug-in and judges it against the list; false only when
    // no program starts.
    bool drive(const CatalogEntry& entry, const Expectation& expectation, PluginResult& result,
               std::string& error);
};

}  // namespace compat
