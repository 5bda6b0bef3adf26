#include "trust/SocketTable.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::optional<uint32_t> hexNumber(std::string_view text) {
    if (text.empty() || text.size() > 8) return std::nullopt;
    uint32_t value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else return std::nullopt;
        value = value << 4 | static_cast<uint32_t>(digit);
    }
    return value;
}

std::optional<uint32_t> decimalNumber(std::string_view text) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(value);
}

// "0100007F:2329" (tcp) or 32 hex digits and a port (tcp6).
std::optional<TcpEnd> endOf(std::string_view field) {
    const std::size_t colon = field.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const std::string_view hex = field.substr(0, colon);
    const auto port = hexNumber(field.substr(colon + 1));
    if (!port || *port > 0xffff || (hex.size() != 8 && hex.size() != 32)) return std::nullopt;
    uint8_t bytes[16];
    for (std::size_t word = 0; word < hex.size() / 8; ++word) {
        const auto value = hexNumber(hex.substr(word * 8, 8));
        if (!value) return std::nullopt;
        std::memcpy(bytes + word * 4, &*value, 4);  // the kernel printed the word in its own order
    }
    TcpEnd end;
    if (hex.size() == 8) {
        end.address = mappedIpv4(bytes);
    } else {
        std::memcpy(end.address.data(), bytes, 16);
    }
    end.port = static_cast<uint16_t>(*port);
    return end;
}

// The first `count` whitespace-separated fields of a line.
template <std::size_t count>
bool splitFields(std::string_view line, std::string_view (&fields)[count]) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < count; ++i) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
        const std::size_t start = at;
        while (at < line.size() && line[at] != ' ' && line[at] != '\t') ++at;
        if (start == at) return false;
        fields[i] = line.substr(start, at - start);
    }
    return true;
}

}  // namespace

std::optional<uint32_t> socketOwnerIn(std::string_view table, const TcpEnd& own,
                                      const TcpEnd& peer) {
    // sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode
    constexpr std::size_t localField = 1, remoteField = 2, uidField = 7, inodeField = 9;
    while (!table.empty()) {
        const std::size_t end = table.find('\n');
        const std::string_view line = table.substr(0, end);
        table.remove_prefix(end == std::string_view::npos ? table.size() : end + 1);
        std::string_view fields[inodeField + 1];
        if (!splitFields(line, fields)) continue;
        const auto local = endOf(fields[localField]);
        if (!local || !(*local == own)) continue;
        const auto remote = endOf(fields[remoteField]);
        if (!remote || !(*remote == peer)) continue;
        const auto uid = decimalNumber(fields[uidField]);
        if (!uid || fields[inodeField] == "0") continue;
        return uid;
    }
    return std::nullopt;
}

std::optional<uint32_t> socketOwner(std::initializer_list<const char*> tables, const TcpEnd& own,
                                    const TcpEnd& peer) {
    for (const char* path : tables) {
        std::ifstream file(path, std::ios::binary);
        if (!file) continue;
        const std::string text((std::istreambuf_iterator<char>(file)),
                               std::istreambuf_iterator<char>());
        if (auto uid = socketOwnerIn(text, own, peer)) return uid;
    }
    return std::nullopt;
}
