// UTF-8 checks shared by the frame joiner and the folder walk.
#pragma once

#include <string_view>

// Well-formed UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool isValidUtf8(std::string_view text);
