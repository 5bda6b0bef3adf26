#include <cstdlib>

#include "trust/AllowListLocation.h"

std::filesystem::path allowListLocation() {
    std::filesystem::path base;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/') {
        base = config;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = std::filesystem::path(home) / ".config";
    } else {
        base = "/nonexistent";  // no home: nothing is allowed, nothing is written
    }
    return base / "corvel-vst-remote" / "allowed-origins";
}
