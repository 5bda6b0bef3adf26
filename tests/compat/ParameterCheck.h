// The parameters aspect: the plug-in loaded once more, over a protocol 2
// connection, its parameters listed, and one of them set to a value through
// its display text and back.
#pragma once

#include "PluginCheck.h"
#include "Version2Connection.h"

namespace compat {

// For the plug-in loaded on `v2`, whose load counted `count` parameters: ok
// with the count and the round trip's texts; none when it has no parameter
// it says can be automated; fails with the first thing that did not hold.
// Leaves the plug-in loaded, every parameter as it found it.
Outcome checkParameters(Version2Connection& v2, int count);

}  // namespace compat
