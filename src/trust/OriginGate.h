// Decides at the handshake whether a client may use the program: its Host
// header must name this computer, and a page's origin must be the program's
// own, be in the user's allow-list, or be allowed by the user in a dialog.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "trust/AllowList.h"
#include "trust/ConsentPrompt.h"
#include "trust/HandshakeRefusal.h"

class OriginGate {
public:
    OriginGate(uint16_t port, AllowList allowList,
               std::chrono::milliseconds answerTimeout = std::chrono::seconds(60));
    ~OriginGate();
    OriginGate(const OriginGate&) = delete;
    OriginGate& operator=(const OriginGate&) = delete;

    // Without a prompt every origin outside the allow-list is refused. The
    // prompt must outlive the gate or be unset first.
    void setPrompt(ConsentPrompt* prompt);

    // Worker thread. Blocks while the user is asked (one dialog per origin;
    // other handshakes of that origin wait for the same answer).
    std::optional<HandshakeRefusal> check(std::optional<std::string_view> host,
                                          std::optional<std::string_view> origin);

    // Refuses every waiting and later handshake that would need a dialog.
    void shutdown();

private:
    struct Shared;

    bool isOwnPage(std::string_view origin) const;
    std::optional<HandshakeRefusal> askUser(const std::string& origin);
    HandshakeRefusal refuseOrigin(std::string_view origin, std::string_view why) const;

    uint16_t port;
    std::chrono::milliseconds answerTimeout;
    // Shared with dialogs' replies, which may come after the gate is gone.
    std::shared_ptr<Shared> shared;
};
