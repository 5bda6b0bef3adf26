// Reading what the test plug-ins wrote about the host's calls.
#pragma once

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "ProgramUnderTest.h"

namespace testing_support {

inline std::vector<std::string> logLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

inline bool startsWith(const std::string& line, const std::string& prefix) {
    return line.compare(0, prefix.size(), prefix) == 0;
}

// The lines that begin with one of the prefixes, in log order.
inline std::vector<std::string> linesStartingWith(const std::vector<std::string>& lines,
                                                  const std::vector<std::string>& prefixes) {
    std::vector<std::string> kept;
    for (const std::string& line : lines)
        for (const std::string& prefix : prefixes)
            if (startsWith(line, prefix)) {
                kept.push_back(line);
                break;
            }
    return kept;
}

inline int countStartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
    int count = 0;
    for (const std::string& line : lines) count += startsWith(line, prefix);
    return count;
}

// Waits until the plug-in log holds a line beginning with prefix.
inline bool waitForLogLine(const ProgramUnderTest& program, const std::string& prefix,
                           int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        if (countStartingWith(logLines(program.readPluginLog()), prefix) > 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

}  // namespace testing_support
