// Sanitizer builds would turn a plug-in's null write, and leaks left by its
// exit(3), into an exit of their own; with these variables a plug-in process
// shows its real ending.
#pragma once

#include <cstdlib>
#include <map>
#include <string>

inline std::map<std::string, std::string> realCrashVariables() {
    const auto withOption = [](const char* variable, const std::string& option) {
        const char* given = std::getenv(variable);
        return (given && *given ? std::string(given) + ":" : std::string()) + option;
    };
    return {{"ASAN_OPTIONS", withOption("ASAN_OPTIONS", "handle_segv=0:detect_leaks=0")},
            {"TSAN_OPTIONS", withOption("TSAN_OPTIONS", "handle_segv=0")}};
}
