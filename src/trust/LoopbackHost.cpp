#include "trust/LoopbackHost.h"

#include <string>

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

}  // namespace

bool isLoopbackHost(std::string_view host, uint16_t port) {
    const std::string suffix = ":" + std::to_string(port);
    if (host.size() > suffix.size() && host.substr(host.size() - suffix.size()) == suffix)
        host.remove_suffix(suffix.size());
    return host == "127.0.0.1" || host == "[::1]" || equalsIgnoringCase(host, "localhost");
}
