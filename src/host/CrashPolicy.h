// When a session stops bringing its plug-in back: after the third loss
// within a minute, so a plug-in that crashes on every start costs a few
// seconds, not a loop. Used on the slot's command thread only.
#pragma once

#include <chrono>
#include <vector>

class CrashPolicy {
public:
    static constexpr int crashesBeforeGivingUp = 3;
    static constexpr std::chrono::seconds window{60};

    // Counts a loss now; true when it is one too many and the slot gives up.
    bool giveUpAfterLoss();
    // A new plug-in starts with a clean record.
    void forget() { losses.clear(); }

private:
    std::vector<std::chrono::steady_clock::time_point> losses;  // within the window
};
