// The user's list of trusted origins: a text file, one origin a line, '#'
// starting a comment. Read afresh at every look-up, so an edit counts at once.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

class AllowList {
public:
    explicit AllowList(std::filesystem::path file) : file(std::move(file)) {}

    // True when a line of the file names this origin (canonical form, see
    // OriginText.h). A file that cannot be the list (not a regular file,
    // over 64 KiB) counts as empty, and standard error says why.
    bool contains(std::string_view origin) const;
    // Appends the origin, creating the file and its folder when missing.
    // False, with a line on standard error, when the file cannot take it.
    bool add(std::string_view origin) const;

    const std::filesystem::path& path() const { return file; }

    // True when a line of text, as the file holds it, names the origin.
    static bool names(std::string_view text, std::string_view origin);

private:
    std::filesystem::path file;
};
