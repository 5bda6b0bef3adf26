// The user's list of trusted origins: a text file, one origin a line, '#'
// starting a comment. Read afresh at every look-up, so an edit counts at once.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

class AllowList {
public:
    explicit AllowList(std::filesystem::path file) : file(std::move(file)) {}

    // True when a line names this origin (canonical form, see OriginText.h).
    bool contains(std::string_view origin) const;
    // Appends the origin, creating the file and its folder when missing.
    bool add(std::string_view origin) const;

    const std::filesystem::path& path() const { return file; }

private:
    std::filesystem::path file;
};
