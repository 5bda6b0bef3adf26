#include <dirent.h>
#include <sys/stat.h>

#include <cstdlib>
#include <deque>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "scan/PluginScan.h"
#include "scan/ScanReply.h"

namespace {

void appendSearchPath(const char* variable, std::vector<std::string>& folders) {
    const char* value = std::getenv(variable);
    if (!value) return;
    std::string list = value;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t colon = list.find(':', start);
        if (colon == std::string::npos) colon = list.size();
        if (colon > start) folders.push_back(list.substr(start, colon - start));
        start = colon + 1;
    }
}

std::vector<std::string> defaultPluginFolders() {
    std::vector<std::string> folders;
    appendSearchPath("LXVST_PATH", folders);
    appendSearchPath("VST_PATH", folders);
    if (std::getenv("LXVST_PATH") || std::getenv("VST_PATH")) return folders;
    folders = {"/usr/lib/vst", "/usr/local/lib/vst", "/usr/lib/lxvst", "/usr/local/lib/lxvst"};
    if (const char* home = std::getenv("HOME"); home && *home) {
        folders.push_back(std::string(home) + "/.vst");
        folders.push_back(std::string(home) + "/.lxvst");
    }
    return folders;
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::vector<std::string> findPluginFiles(const std::string& extraFolder,
                                         const std::atomic<bool>& abandoned) {
    std::deque<std::string> work;
    for (std::string& folder : defaultPluginFolders()) work.push_back(std::move(folder));
    if (!extraFolder.empty()) work.push_back(extraFolder);

    std::vector<std::string> found;
    // Folder links are followed; a folder seen before is not walked again,
    // so link cycles end.
    std::set<std::pair<dev_t, ino_t>> walked;
    while (!work.empty() && !abandoned.load(std::memory_order_relaxed)) {
        const std::string folder = std::move(work.back());
        work.pop_back();
        struct stat info;
        if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) continue;
        if (!walked.insert({info.st_dev, info.st_ino}).second) continue;
        DIR* listing = opendir(folder.c_str());
        if (!listing) continue;
        while (const dirent* entry = readdir(listing)) {
            if (abandoned.load(std::memory_order_relaxed)) break;
            const std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            const std::string path = folder + "/" + name;
            if (stat(path.c_str(), &info) != 0) continue;  // dangling link
            if (S_ISDIR(info.st_mode)) {
                work.push_back(path);
            } else if (endsWith(path, ".so")) {
                found.push_back(path);
            }
        }
        closedir(listing);
    }
    return found;
}

std::string scanReply(const std::string& extraFolder, const std::atomic<bool>& abandoned) {
    return formatJsonScanReply(findPluginFiles(extraFolder, abandoned));
}
