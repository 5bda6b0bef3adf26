#include "trust/OriginGate.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

#include "trust/LoopbackHost.h"
#include "trust/OriginText.h"

namespace {

using Answer = ConsentPrompt::Answer;

// A waiting handshake holds one of the server's workers, and an open
// question a dialog on the user's screen: a page opening many sockets, or
// many subdomains, must not use up either.
constexpr std::size_t maxWaitingHandshakes = 16;
constexpr std::size_t maxOpenQuestions = 4;

// Header text as it may appear in a log line or a response body.
std::string printable(std::string_view text) {
    std::string shown(text.substr(0, 255));
    for (char& c : shown)
        if (c < ' ' || c > '~') c = '?';
    return shown;
}

struct Question {
    bool answered = false;
    Answer answer = Answer::Unavailable;
};

}  // namespace

struct OriginGate::Shared {
    explicit Shared(AllowList list) : allowList(std::move(list)) {}

    void answer(const std::string& origin, const std::shared_ptr<Question>& question,
                Answer given) {
        std::lock_guard<std::mutex> lock(mutex);
        if (given == Answer::Allow) allowList.add(origin);
        if (given == Answer::Deny) denied.insert(origin);
        question->answered = true;
        question->answer = given;
        auto open = pending.find(origin);
        if (open != pending.end() && open->second == question) pending.erase(open);
        answered.notify_all();
    }

    std::mutex mutex;
    std::condition_variable answered;
    const AllowList allowList;
    std::set<std::string> denied;                              // until the program ends
    std::map<std::string, std::shared_ptr<Question>> pending;  // one dialog per origin
    std::size_t waiting = 0;                                   // handshakes waiting for an answer
    ConsentPrompt* prompt = nullptr;
    bool stopping = false;
};

OriginGate::OriginGate(uint16_t port, AllowList allowList, std::chrono::milliseconds answerTimeout)
    : port(port), answerTimeout(answerTimeout),
      shared(std::make_shared<Shared>(std::move(allowList))) {}

OriginGate::~OriginGate() {
    shutdown();
}

void OriginGate::setPrompt(ConsentPrompt* prompt) {
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->prompt = prompt;
}

void OriginGate::shutdown() {
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->stopping = true;
    shared->prompt = nullptr;
    shared->answered.notify_all();
}

std::optional<HandshakeRefusal> OriginGate::check(std::optional<std::string_view> host,
                                                  std::optional<std::string_view> origin) {
    if (!host || !isLoopbackHost(*host, port)) {
        const std::string shown = printable(host.value_or(""));
        return HandshakeRefusal{
            403,
            "Refused: the Host header must name this computer (127.0.0.1, localhost or [::1]).",
            "WS refused host " + shown + "\n"};
    }
    if (!origin) return std::nullopt;  // a native client, not a web page
    const std::string canonical = canonicalOrigin(*origin);
    if (canonical.empty()) {
        return HandshakeRefusal{403,
                                "Refused: " + printable(*origin) +
                                    " is not an origin of the form scheme://host[:port], "
                                    "so it cannot be allowed.",
                                "WS refused origin " + printable(*origin) + "\n"};
    }
    if (isOwnPage(canonical) || shared->allowList.contains(canonical)) return std::nullopt;
    return askUser(canonical);
}

bool OriginGate::isOwnPage(std::string_view origin) const {
    const std::string suffix = ":" + std::to_string(port);
    return origin == "http://127.0.0.1" + suffix || origin == "http://localhost" + suffix;
}

std::optional<HandshakeRefusal> OriginGate::askUser(const std::string& origin) {
    std::unique_lock<std::mutex> lock(shared->mutex);
    if (shared->denied.count(origin))
        return refuseOrigin(origin,
                            " was denied in the dialog; restart the program to be asked again");
    if (shared->waiting >= maxWaitingHandshakes ||
        (!shared->pending.count(origin) && shared->pending.size() >= maxOpenQuestions))
        return refuseOrigin(origin,
                            " is not allowed, and too many pages wait for an answer already");
    auto& slot = shared->pending[origin];
    std::shared_ptr<Question> question = slot;
    if (!question) {
        ConsentPrompt* prompt = shared->stopping ? nullptr : shared->prompt;
        if (!prompt) {
            shared->pending.erase(origin);
            return refuseOrigin(origin, " is not allowed and no dialog can be shown");
        }
        question = slot = std::make_shared<Question>();
        lock.unlock();
        std::weak_ptr<Shared> weakShared = shared;
        prompt->ask(origin, [weakShared, origin, question](Answer given) {
            if (auto alive = weakShared.lock()) alive->answer(origin, question, given);
        });
        lock.lock();
    }
    ++shared->waiting;
    const bool settled = shared->answered.wait_for(
        lock, answerTimeout, [&] { return question->answered || shared->stopping; });
    --shared->waiting;
    if (!settled)
        return refuseOrigin(origin, " is not allowed yet: the dialog was not answered in time");
    if (!question->answered) return refuseOrigin(origin, " is not allowed: the program is ending");
    switch (question->answer) {
        case Answer::Allow:
            return std::nullopt;
        case Answer::Deny:
            return refuseOrigin(origin,
                                " was denied in the dialog; restart the program to be asked again");
        case Answer::Unavailable:
            break;
    }
    return refuseOrigin(origin, " is not allowed and no dialog can be shown");
}

HandshakeRefusal OriginGate::refuseOrigin(std::string_view origin, std::string_view why) const {
    const std::string shown = printable(origin);
    return HandshakeRefusal{403,
                            "Refused: " + shown + std::string(why) +
                                ". To allow it, answer \"Allow\" in the " +
                                "Corvel VST/Remote dialog or add the origin as a line of " +
                                shared->allowList.path().u8string() + ".",
                            "WS refused origin " + shown + "\n"};
}
