#include "trust/OriginText.h"

#include <cstddef>

namespace {

constexpr std::size_t longestOrigin = 255;

char lowered(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isSchemeChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

bool isPrintable(char c) {
    return c > ' ' && c < 0x7F;
}

}  // namespace

std::string canonicalOrigin(std::string_view text) {
    if (text.empty() || text.size() > longestOrigin) return {};
    for (char c : text)
        if (!isPrintable(c)) return {};
    const std::size_t separator = text.find("://");
    if (separator == std::string_view::npos || separator == 0) return {};
    std::string result;
    result.reserve(text.size());
    for (char c : text.substr(0, separator)) {
        c = lowered(c);
        if (!isSchemeChar(c)) return {};
        result += c;
    }
    result += "://";
    const std::string_view authority = text.substr(separator + 3);
    // No path, user, query or fragment; a '#' could not be written to the
    // allow-list either, where it starts a comment.
    if (authority.empty() || authority.find_first_of("/@?#") != std::string_view::npos) return {};
    // The host ends at the port's colon; a bracketed IPv6 host has colons of its own.
    std::size_t hostEnd = authority.size();
    if (authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) return {};
        hostEnd = close + 1;
    } else if (const std::size_t colon = authority.find(':'); colon != std::string_view::npos) {
        hostEnd = colon;
    }
    if (hostEnd == 0) return {};
    for (std::size_t i = 0; i < hostEnd; ++i) result += lowered(authority[i]);
    const std::string_view rest = authority.substr(hostEnd);
    if (!rest.empty()) {
        if (rest.front() != ':' || rest.size() == 1) return {};
        for (char c : rest.substr(1))
            if (c < '0' || c > '9') return {};
    }
    result += rest;
    return result;
}
