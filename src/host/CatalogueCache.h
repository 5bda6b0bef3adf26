// The catalogue's entries by module, kept in a file between runs and keyed
// by each module's path, size and modification time: a rescan reads only
// the modules that are new or changed, and a module that crashed or hung
// is not read again until its file changes. Used by one thread at a time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/CatalogueEntry.h"

class CatalogueCache {
public:
    // What tells one version of a module's file from another.
    struct Stamp {
        uint64_t size = 0;
        int64_t modified = 0;  // the file system's own clock ticks
        bool operator==(const Stamp& other) const {
            return size == other.size && modified == other.modified;
        }
    };

    // An empty file path keeps the cache in memory only.
    explicit CatalogueCache(std::filesystem::path file) : file(std::move(file)) {}

    // The module file's stamp; nothing when it is gone or not a file.
    static std::optional<Stamp> stampOf(const std::string& path);

    // Replaces what is held with the file's contents. A missing file is an
    // empty cache. A file that is not a cache is renamed aside (its name
    // with ".damaged" added, replacing an older one) and the cache starts
    // empty; loading never fails.
    void load();
    // The module's entries, when they were read from a file of this stamp.
    const std::vector<CatalogueEntry>* find(const std::string& path, const Stamp& stamp) const;
    void store(const std::string& path, const Stamp& stamp, std::vector<CatalogueEntry> entries);
    // Forgets the modules whose files are gone or changed, other than those
    // in keep (which were just read).
    void forgetStale(const std::vector<std::string>& keep);
    // Whether anything was stored or forgotten since the last load or save.
    bool changed() const { return dirty; }
    // Writes a temporary file beside the cache and puts it in its place, so
    // a crash midway leaves the old cache whole. False when it could not.
    bool save();

private:
    struct Module {
        Stamp stamp;
        std::vector<CatalogueEntry> entries;
    };

    std::filesystem::path file;
    std::map<std::string, Module> modules;
    bool dirty = false;
};
