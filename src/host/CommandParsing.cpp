#include "host/CommandParsing.h"

#include <limits>

namespace commands {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The next word of text, which loses it and the white space before it.
std::string_view takeWord(std::string_view& text) {
    std::size_t start = 0;
    while (start < text.size() && isSpace(text[start])) ++start;
    std::size_t end = start;
    while (end < text.size() && !isSpace(text[end])) ++end;
    const std::string_view word = text.substr(start, end - start);
    text.remove_prefix(end);
    return word;
}

// An optional sign and the digits after it, from the start of text; used
// tells how many bytes they took. Nothing without digits or outside 32
// signed bits.
std::optional<int32_t> leadingInteger(std::string_view text, std::size_t& used) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i >= text.size() || !isDigit(text[i])) return std::nullopt;
    int64_t value = 0;
    const int64_t limit = negative ? -int64_t(std::numeric_limits<int32_t>::min())
                                   : int64_t(std::numeric_limits<int32_t>::max());
    for (; i < text.size() && isDigit(text[i]); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) return std::nullopt;
    }
    used = i;
    return static_cast<int32_t>(negative ? -value : value);
}

}  // namespace

std::string_view argumentAfter(std::string_view message, std::string_view word) {
    if (message.size() <= word.size() || !isSpace(message[word.size()])) return {};
    return message.substr(word.size() + 1);
}

std::optional<int32_t> wholeInteger(std::string_view word) {
    std::size_t used = 0;
    const std::optional<int32_t> value = leadingInteger(word, used);
    if (!value || used != word.size()) return std::nullopt;
    return value;
}

std::optional<int32_t> decimalArgument(std::string_view word, int32_t lowest, int32_t highest) {
    std::size_t i = 0;
    const std::optional<int32_t> value = leadingInteger(word, i);
    if (!value || *value < lowest || *value > highest) return std::nullopt;
    if (i < word.size() && word[i] == '.') {
        ++i;
        while (i < word.size() && isDigit(word[i])) ++i;
    }
    if (i != word.size()) return std::nullopt;
    return value;
}

std::optional<int32_t> soleDecimalArgument(std::string_view argument, int32_t lowest,
                                           int32_t highest) {
    const std::string_view word = takeWord(argument);
    if (word.empty() || !takeWord(argument).empty()) return std::nullopt;
    return decimalArgument(word, lowest, highest);
}

bool parseMidiEvent(std::string_view words, MidiEvent& event) {
    int32_t values[4] = {};
    std::size_t count = 0;
    for (std::string_view word = takeWord(words); !word.empty(); word = takeWord(words)) {
        const std::optional<int32_t> value = wholeInteger(word);
        if (!value) return false;
        if (count < 4) values[count] = *value;
        ++count;
    }
    if (count < 3) return false;
    if (values[0] < 128 || values[0] > 255) return false;
    if (values[1] < 0 || values[1] > 127 || values[2] < 0 || values[2] > 127) return false;
    event.status = static_cast<uint8_t>(values[0]);
    event.data1 = static_cast<uint8_t>(values[1]);
    event.data2 = static_cast<uint8_t>(values[2]);
    event.frameOffset.reset();
    // Only a four-word event carries an offset; longer ones play at once.
    if (count == 4) event.frameOffset = values[3];
    return true;
}

}  // namespace commands
