// Asking the user whether a web origin may use the program. Implemented by
// each platform's dialog.
#pragma once

#include <functional>
#include <string>

class ConsentPrompt {
public:
    enum class Answer { Allow, Deny, Unavailable };
    using Reply = std::function<void(Answer)>;

    // Any thread; returns at once. Shows a dialog about the origin and calls
    // reply exactly once when the user answers, or with Unavailable when no
    // dialog can be shown (no display, shutting down).
    virtual void ask(const std::string& origin, Reply reply) = 0;

protected:
    ~ConsentPrompt() = default;
};
