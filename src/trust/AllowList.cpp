#include "trust/AllowList.h"

#include <fstream>
#include <system_error>

#include "trust/OriginText.h"

namespace {

std::string_view trimmed(std::string_view line) {
    const char* space = " \t\r\n\v\f";
    const std::size_t first = line.find_first_not_of(space);
    if (first == std::string_view::npos) return {};
    return line.substr(first, line.find_last_not_of(space) - first + 1);
}

}  // namespace

bool AllowList::contains(std::string_view origin) const {
    std::ifstream in(file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        std::string_view entry = line;
        entry = trimmed(entry.substr(0, entry.find('#')));
        if (!entry.empty() && canonicalOrigin(entry) == origin) return true;
    }
    return false;
}

bool AllowList::add(std::string_view origin) const {
    std::error_code ignored;
    std::filesystem::create_directories(file.parent_path(), ignored);
    // A last line without its newline must not swallow the new entry.
    bool needsNewline = false;
    {
        std::ifstream in(file, std::ios::binary | std::ios::ate);
        if (in && in.tellg() > 0) {
            in.seekg(-1, std::ios::end);
            needsNewline = in.get() != '\n';
        }
    }
    std::ofstream out(file, std::ios::binary | std::ios::app);
    if (needsNewline) out << '\n';
    out << origin << '\n';
    return static_cast<bool>(out.flush());
}
