// Where the catalogue's cache lives, and how a file takes another's place,
// per platform.
#pragma once

#include <filesystem>

// Linux: $XDG_CACHE_HOME/corvel-vst-remote/catalogue.json (~/.cache without
// it); Windows: %LOCALAPPDATA%\Corvel VST Remote\catalogue.json. Empty when
// the platform names no such folder for this user.
std::filesystem::path catalogueCacheLocation();

// Puts from in to's place in one step, replacing it: a reader finds the old
// file or the new one, never part of either.
bool replaceFile(const std::filesystem::path& from, const std::filesystem::path& to);
