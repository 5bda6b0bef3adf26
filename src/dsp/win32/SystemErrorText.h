// The system's own words for a Windows error code, for messages to the user.
#pragma once

#include <windows.h>

#include <string>

namespace Vexa::DSP {

inline std::string systemErrorText(DWORD code) {
    char text[512] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text, sizeof text, nullptr);
    // The system's sentences end in a full stop and a line break.
    while (length > 0 &&
           (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == '.'))
        --length;
    if (length == 0) return "Windows error " + std::to_string(code);
    return std::string(text, length);
}

}  // namespace Vexa::DSP
