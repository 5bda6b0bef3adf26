#include "host/CrashPolicy.h"

#include <algorithm>

bool CrashPolicy::giveUpAfterLoss() {
    const auto now = std::chrono::steady_clock::now();
    losses.erase(
        std::remove_if(losses.begin(), losses.end(), [&](auto at) { return now - at >= window; }),
        losses.end());
    losses.push_back(now);
    return losses.size() >= static_cast<std::size_t>(crashesBeforeGivingUp);
}
