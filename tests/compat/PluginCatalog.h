// The VST 2 modules that a Debian package puts into the plug-in folders,
// read from the package's own file list, so a new version's new plug-ins
// are tried without anyone listing them.
#pragma once

#include <string>
#include <vector>

namespace compat {

struct CatalogEntry {
    std::string package;
    std::string path;
    std::string file;  // the path's last component
};

// Empty, with a message, when the package is not installed.
std::vector<CatalogEntry> packagePlugins(const std::string& package, std::string& error);
std::string packageVersion(const std::string& package);

}  // namespace compat
