// Parsing of the arguments of the client's text commands.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace commands {

// A decimal integer at the start of text: optional sign, then digits up to
// the first non-digit. Nothing when there are no digits or the value does
// not fit in 32 signed bits.
std::optional<int32_t> leadingInteger(std::string_view text);

// Words separated by runs of white space.
std::vector<std::string_view> splitWords(std::string_view text);

// The events of a "midi" list: each closed by "|", its words read as
// integers. Text after the last "|" is not an event; an event with a word
// that is not a number is left out.
std::vector<std::vector<int32_t>> midiEvents(std::string_view list);

// The argument that starts at a fixed offset, empty when the message is shorter.
std::string_view argumentAt(std::string_view message, std::size_t offset);

}  // namespace commands
