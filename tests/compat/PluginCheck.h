// Drives one plug-in through a running instance of the real program, aspect
// by aspect, as a client and a user at the screen would.
#pragma once

#include <map>
#include <string>

#include "ProgramUnderTest.h"
#include "WsClient.h"

namespace compat {

struct Outcome {
    std::string status = "none";  // ok, fails or none
    std::string detail;
};

// Every aspect's outcome for a plug-in of that kind (effect, reverb,
// passthrough, instrument, ...); load failing leaves the rest "none".
std::map<std::string, Outcome> checkPlugin(testing_support::ProgramUnderTest& program,
                                           testing_support::WsClient& client,
                                           const std::string& path, const std::string& kind);

}  // namespace compat
