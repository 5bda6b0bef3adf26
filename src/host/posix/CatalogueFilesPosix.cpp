#include <cstdio>
#include <cstdlib>

#include "host/CatalogueFiles.h"

std::filesystem::path catalogueCacheLocation() {
    std::filesystem::path base;
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache == '/') {
        base = cache;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = std::filesystem::path(home) / ".cache";
    } else {
        return {};
    }
    return base / "corvel-vst-remote" / "catalogue.json";
}

bool replaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}
