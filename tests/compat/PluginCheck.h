// Drives one plug-in through a running instance of the real program, aspect
// by aspect, as a client and a user at the screen would.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "Expectations.h"
#include "ProgramUnderTest.h"
#include "WsClient.h"

namespace compat {

struct Outcome {
    std::string status = "none";  // ok, fails or none
    std::string detail;
};

class PluginCheck {
public:
    PluginCheck(testing_support::ProgramUnderTest& program, testing_support::WsClient& client,
                const std::string& path, const Expectation& expectation);
    // Every aspect's outcome; load failing leaves the rest "none".
    std::map<std::string, Outcome> run();

private:
    using Block = std::vector<float>;
    // Sends blocks and returns the replies joined; false when one is missing,
    // has the wrong size or is not finite.
    bool play(const std::vector<Block>& blocks, std::vector<Block>& replies, std::string& why);
    Outcome load();
    Outcome audio();
    Outcome midi();
    Outcome settings();
    Outcome state();
    Outcome editor();
    Outcome unload();
    std::string text(int timeoutMs = 60000);
    int countIn(const std::string& folder);
    bool moduleMapped();

    std::string path;
    Expectation expectation;
    testing_support::ProgramUnderTest& program;
    testing_support::WsClient& client;
    uint32_t frames = 256;
    int threadsBefore = 0, filesBefore = 0;
};

}  // namespace compat
