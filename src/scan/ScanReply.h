// Turning the list of found plug-in paths into the "scanVSTs" reply.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Paths quoted as they are, separated by commas, every backslash turned
// into a forward slash; "[]" for none. Windows paths hold no quote.
std::string formatWindowsScanReply(const std::vector<std::string>& paths);

// A JSON array of strings: quotes, backslashes and control characters
// escaped, paths that are not valid UTF-8 left out.
std::string formatJsonScanReply(const std::vector<std::string>& paths);
