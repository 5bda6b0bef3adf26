// The compatibility table in the docs, written from the suite's results.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "Results.h"

namespace compat {

struct PackageInfo {
    std::string name;
    std::string version;
    std::string note;  // what holds for every plug-in of the package
};

void writeTable(std::ostream& out, const std::vector<PackageInfo>& packages,
                const std::vector<PluginResult>& results);

}  // namespace compat
