#include "trust/AllowList.h"

#include <cstdio>
#include <system_error>

#include "trust/AllowListFile.h"
#include "trust/OriginText.h"

namespace {

std::string_view trimmed(std::string_view line) {
    const char* space = " \t\r\n\v\f";
    const std::size_t first = line.find_first_not_of(space);
    if (first == std::string_view::npos) return {};
    return line.substr(first, line.find_last_not_of(space) - first + 1);
}

}  // namespace

bool AllowList::names(std::string_view text, std::string_view origin) {
    // Every line that is not an origin has the empty canonical form.
    if (origin.empty()) return false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view entry = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        entry = trimmed(entry.substr(0, entry.find('#')));
        if (!entry.empty() && canonicalOrigin(entry) == origin) return true;
    }
    return false;
}

bool AllowList::contains(std::string_view origin) const {
    const AllowListBytes bytes = readAllowListFile(file);
    if (!bytes.refusal.empty()) {
        std::fprintf(stderr, "allow-list %s %s: taken as empty\n", file.u8string().c_str(),
                     bytes.refusal.c_str());
        return false;
    }
    return names(bytes.text, origin);
}

bool AllowList::add(std::string_view origin) const {
    std::error_code ignored;
    std::filesystem::create_directories(file.parent_path(), ignored);
    std::string why;
    if (appendToAllowListFile(file, origin, why)) return true;
    std::fprintf(stderr, "allow-list %s %s: %.*s not added\n", file.u8string().c_str(), why.c_str(),
                 static_cast<int>(origin.size()), origin.data());
    return false;
}
