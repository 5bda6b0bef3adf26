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

}  // namespace

std::optional<int32_t> leadingInteger(std::string_view text) {
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
    return static_cast<int32_t>(negative ? -value : value);
}

std::optional<int32_t> decimalArgument(std::string_view text, int32_t lowest, int32_t highest) {
    const std::optional<int32_t> value = leadingInteger(text);
    if (!value || *value < lowest || *value > highest) return std::nullopt;
    std::size_t i = (text[0] == '+' || text[0] == '-') ? 1 : 0;
    while (i < text.size() && isDigit(text[i])) ++i;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i])) ++i;
    }
    if (i != text.size()) return std::nullopt;
    return value;
}

std::vector<std::string_view> splitWords(std::string_view text) {
    std::vector<std::string_view> words;
    for (std::string_view word = takeWord(text); !word.empty(); word = takeWord(text))
        words.push_back(word);
    return words;
}

bool parseMidiEvent(std::string_view words, MidiEvent& event) {
    int32_t values[4] = {};
    std::size_t count = 0;
    for (std::string_view word = takeWord(words); !word.empty(); word = takeWord(words)) {
        const std::optional<int32_t> value = leadingInteger(word);
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
    if (count == 4) {
        if (values[3] < 0) return false;
        event.frameOffset = values[3];
    }
    return true;
}

std::string_view argumentAt(std::string_view message, std::size_t offset) {
    return offset < message.size() ? message.substr(offset) : std::string_view();
}

}  // namespace commands
