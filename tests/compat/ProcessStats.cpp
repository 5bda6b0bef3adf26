#include "ProcessStats.h"

#include <dirent.h>

#include <fstream>
#include <sstream>

namespace compat {

namespace {

long statusField(const std::string& status, const std::string& name) {
    const std::size_t at = status.find("\n" + name + ":");
    if (at == std::string::npos) return 0;
    std::istringstream value(status.substr(at + name.size() + 2));
    long number = 0;
    value >> number;
    return number;
}

}  // namespace

ProcessStats readProcessStats(long pid) {
    ProcessStats stats;
    const std::string folder = "/proc/" + std::to_string(pid);
    std::ifstream file(folder + "/status");
    std::stringstream text;
    text << "\n" << file.rdbuf();
    stats.residentKiB = statusField(text.str(), "VmRSS");
    stats.threads = static_cast<int>(statusField(text.str(), "Threads"));
    if (DIR* fds = opendir((folder + "/fd").c_str())) {
        while (dirent* entry = readdir(fds))
            if (entry->d_name[0] != '.') ++stats.descriptors;
        closedir(fds);
    }
    return stats;
}

bool isMapped(long pid, const std::string& path) {
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    for (std::string line; std::getline(maps, line);) {
        if (line.size() >= path.size() && line.compare(line.size() - path.size(), path.size(), path) == 0)
            return true;
    }
    return false;
}

}  // namespace compat
