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

std::vector<std::string_view> splitWords(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isSpace(text[i])) ++i;
        const std::size_t start = i;
        while (i < text.size() && !isSpace(text[i])) ++i;
        if (i > start) words.push_back(text.substr(start, i - start));
    }
    return words;
}

std::vector<std::vector<int32_t>> midiEvents(std::string_view list) {
    std::vector<std::vector<int32_t>> events;
    for (std::size_t bar = list.find('|'); bar != std::string_view::npos; bar = list.find('|')) {
        std::vector<int32_t> event;
        bool wellFormed = true;
        for (std::string_view word : splitWords(list.substr(0, bar))) {
            std::optional<int32_t> value = leadingInteger(word);
            if (!value) {
                wellFormed = false;
                break;
            }
            event.push_back(*value);
        }
        if (wellFormed) events.push_back(std::move(event));
        list.remove_prefix(bar + 1);
    }
    return events;
}

std::string_view argumentAt(std::string_view message, std::size_t offset) {
    return offset < message.size() ? message.substr(offset) : std::string_view();
}

}  // namespace commands
