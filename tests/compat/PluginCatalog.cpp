#include "PluginCatalog.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace compat {

namespace {

// The folders the program walks when no plug-in path is set.
const char* const pluginFolders[] = {"/usr/lib/vst/", "/usr/local/lib/vst/", "/usr/lib/lxvst/",
                                     "/usr/local/lib/lxvst/"};

std::vector<std::string> commandLines(const std::string& command) {
    std::vector<std::string> lines;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return lines;
    char buffer[4096];
    while (fgets(buffer, sizeof buffer, pipe.get())) {
        std::string line = buffer;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool isPackageName(const std::string& name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.';
    });
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool inPluginFolder(const std::string& path) {
    for (const char* folder : pluginFolders)
        if (path.rfind(folder, 0) == 0) return true;
    return false;
}

bool isRegularFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

std::vector<CatalogEntry> packagePlugins(const std::string& package, std::string& error) {
    std::vector<CatalogEntry> entries;
    if (!isPackageName(package)) {
        error = "not a package name: " + package;
        return entries;
    }
    if (packageVersion(package).empty()) {
        error = package + " is not installed (scripts/install-deps.sh installs it)";
        return entries;
    }
    for (const std::string& path : commandLines("dpkg-query -L " + package + " 2>/dev/null")) {
        if (!endsWith(path, ".so") || !inPluginFolder(path) || !isRegularFile(path)) continue;
        entries.push_back({package, path, path.substr(path.rfind('/') + 1)});
    }
    std::sort(entries.begin(), entries.end(),
              [](const CatalogEntry& a, const CatalogEntry& b) { return a.path < b.path; });
    if (entries.empty()) error = package + " installs no module in the plug-in folders";
    return entries;
}

std::string packageVersion(const std::string& package) {
    if (!isPackageName(package)) return "";
    const auto lines = commandLines("dpkg-query -W -f='${Status} ${Version}\\n' " + package +
                                    " 2>/dev/null");
    const std::string installed = "install ok installed ";
    if (lines.empty() || lines[0].rfind(installed, 0) != 0) return "";
    return lines[0].substr(installed.size());
}

}  // namespace compat
