#include "scan/ScanReply.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "text/Utf8.h"

std::string formatWindowsScanReply(const std::vector<std::string>& paths) {
    if (paths.empty()) return "[]";
    std::string reply = "[";
    for (const std::string& path : paths) reply += "\"" + path + "\",";
    reply.pop_back();
    std::replace(reply.begin(), reply.end(), '\\', '/');
    return reply + "]";
}

std::string formatJsonScanReply(const std::vector<std::string>& paths) {
    std::string reply = "[";
    for (const std::string& path : paths) {
        if (!isValidUtf8(path)) continue;
        if (reply.size() > 1) reply += ',';
        reply += '"';
        for (char c : path) {
            if (c == '"' || c == '\\') {
                reply += '\\';
                reply += c;
            } else if (static_cast<uint8_t>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                reply += escaped;
            } else {
                reply += c;
            }
        }
        reply += '"';
    }
    return reply + "]";
}
