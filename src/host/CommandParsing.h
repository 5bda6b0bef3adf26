// Parsing of the arguments of the client's text commands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace commands {

// The text after a command word and the one white-space byte that
// separates them. Empty when nothing follows, and when the word runs
// straight into more text ("sampleRate48000", "showGuiNow"): that text
// belongs to the word, so the command has no argument.
std::string_view argumentAfter(std::string_view message, std::string_view word);

// A whole word that is an integer: an optional sign, then decimal digits
// and nothing else. Nothing for any other text ("0x90", "60xyz", "1e3")
// or a value outside 32 signed bits.
std::optional<int32_t> wholeInteger(std::string_view word);

// A whole-word decimal number: optional sign, digits, and optionally '.'
// with more digits, which are dropped ("44100.0" is 44100). Nothing for an
// exponent, any other trailing text, or a value outside lowest..highest.
std::optional<int32_t> decimalArgument(std::string_view word, int32_t lowest, int32_t highest);

// An argument that is exactly one decimalArgument word, white space around
// it allowed. Nothing when it holds no word or more than one
// ("300 junk", "200 1e9").
std::optional<int32_t> soleDecimalArgument(std::string_view argument, int32_t lowest,
                                           int32_t highest);

struct MidiEvent {
    uint8_t status = 0;
    uint8_t data1 = 0;
    uint8_t data2 = 0;
    // None: play as soon as possible. Any value is passed on; the plug-in
    // wrapper moves one outside the block to its nearest frame.
    std::optional<int32_t> frameOffset;
};

// One event's words: status, two data bytes, and a frame offset when there
// are exactly four words. False when the event must be dropped: a word that
// is not a whole integer, fewer than three words, a status outside
// 128..255 or a data byte outside 0..127.
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

}  // namespace commands
