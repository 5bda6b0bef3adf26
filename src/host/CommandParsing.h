// Parsing of the arguments of the client's text commands.
#pragma once

#include <cstddef>
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

// A whole-word decimal number: optional sign, digits, and optionally '.'
// with more digits, which are dropped ("44100.0" is 44100). Nothing for an
// exponent, any other trailing text, or a value outside lowest..highest.
std::optional<int32_t> decimalArgument(std::string_view text, int32_t lowest, int32_t highest);

// Words separated by runs of white space.
std::vector<std::string_view> splitWords(std::string_view text);

struct MidiEvent {
    uint8_t status = 0;
    uint8_t data1 = 0;
    uint8_t data2 = 0;
    std::optional<int32_t> frameOffset;  // none: play as soon as possible
};

// One event's words: status, two data bytes, and a frame offset when there
// are exactly four words. False when the event must be dropped: a word that
// is not a number, fewer than three words, a status outside 128..255, a data
// byte outside 0..127 or a negative offset.
bool parseMidiEvent(std::string_view words, MidiEvent& event);

// Hands deliver(const MidiEvent&) each well-formed event of a "midi" list,
// each event closed by "|" (text after the last "|" is not an event), and
// stops after limit of them. Returns how many were delivered.
template <typename Deliver>
std::size_t forEachMidiEvent(std::string_view list, std::size_t limit, Deliver&& deliver) {
    std::size_t delivered = 0;
    for (std::size_t bar = list.find('|'); bar != std::string_view::npos && delivered < limit;
         bar = list.find('|')) {
        MidiEvent event;
        if (parseMidiEvent(list.substr(0, bar), event)) {
            deliver(static_cast<const MidiEvent&>(event));
            ++delivered;
        }
        list.remove_prefix(bar + 1);
    }
    return delivered;
}

// The argument that starts at a fixed offset, empty when the message is shorter.
std::string_view argumentAt(std::string_view message, std::size_t offset);

}  // namespace commands
