// The layout aspect: a plug-in with more than two inputs or outputs loaded
// once more with all of them, over protocol 2, and played with a signal on
// every input (and a note, for an instrument): every output comes back,
// one past the first pair sounds, and the inputs past the first pair
// change what it plays, as a side-chain heard does.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "PluginCheck.h"
#include "Version2Connection.h"

namespace compat {

struct LayoutPlan {
    std::string path;
    bool instrument = false;
    int inputs = 2;  // the plug-in's own, as its load counted them
    int outputs = 2;
    // Parameters set before it plays, each a name pattern (fnmatch) and a
    // value: a side-chain that the plug-in ignores until it is switched on.
    std::vector<std::pair<std::string, double>> settings;
};

// none when the plug-in has two inputs and two outputs or fewer; ok with
// what was heard; fails with the first thing that did not hold. Leaves a
// plug-in loaded on `v2`, with its full layout.
Outcome checkLayout(Version2Connection& v2, const LayoutPlan& plan);

}  // namespace compat
