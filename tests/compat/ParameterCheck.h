// The parameters aspect: the plug-in loaded once more, into the program on
// the given port over a protocol 2 connection of its own, its parameters
// listed, and one of them set to a value through its display text and back.
#pragma once

#include <cstdint>
#include <string>

#include "PluginCheck.h"

namespace compat {

// ok with the count and the round trip's texts; none when the plug-in has
// no parameter it says can be automated; fails with the first thing that
// did not hold. Leaves the connection closed and its plug-in unloaded.
Outcome checkParameters(uint16_t port, const std::string& path);

}  // namespace compat
