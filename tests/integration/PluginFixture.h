// A running program with a client, and the steps most plug-in tests share.
#pragma once

#include <string>
#include <vector>

#include "../support/PluginLog.h"
#include "HostFixture.h"

namespace testing_support {

class PluginTest : public HostTest {
protected:
    // Loads a test plug-in and checks the two replies of a good load.
    void load(const std::string& name, int latency = 0) { loadOn(client, name, latency); }
    static void loadOn(WsClient& session, const std::string& name, int latency = 0) {
        ASSERT_TRUE(session.sendText("load " + testPluginPath(name)));
        EXPECT_EQ(session.receiveText(10000), "ready");
        EXPECT_EQ(session.receiveText(), "fixedCompensationDelaySamp\n" + std::to_string(latency));
    }

    // A block of two channels: left[i] = leftStart + i * step, right constant.
    static std::vector<float> block(uint32_t frames, float leftStart, float step, float right) {
        std::vector<float> samples(2 * frames);
        for (uint32_t i = 0; i < frames; ++i) {
            samples[i] = leftStart + static_cast<float>(i) * step;
            samples[frames + i] = right;
        }
        return samples;
    }

    // Sends one block and returns the samples of its reply (empty for an
    // empty reply); fails the test when no binary reply comes.
    std::vector<float> roundTrip(const std::vector<float>& samples) {
        EXPECT_TRUE(client.sendBinary(samples));
        auto reply = client.receiveBinary();
        EXPECT_TRUE(reply.has_value()) << "no binary reply";
        return reply ? floatsOf(*reply) : std::vector<float>{};
    }

    std::vector<std::string> log() { return logLines(program->readPluginLog()); }
};

}  // namespace testing_support
