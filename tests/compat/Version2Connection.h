// A protocol 2 connection of the compatibility suite's own: requests
// answered in order past any events, and audio blocks with their header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "WsClient.h"

namespace compat {

class Version2Connection {
public:
    // Connects and reads the greeting.
    bool open(uint16_t port);

    // The reply to the request (its id set here), past any events; an
    // empty object when none came.
    nlohmann::json ask(nlohmann::json request);
    bool ok(const nlohmann::json& request) { return ask(request).value("ok", false); }

    // Sends a block of `channels` planar channels (`frames` each, as many as
    // `samples` holds) behind its header and `records`; true when it left.
    bool sendBlock(const std::vector<float>& samples, uint32_t frames,
                   const std::vector<uint8_t>& records = {});
    // The next block's reply past any events, its channels planar in
    // `channels`, and its header's channel count; false when none came or it
    // is no processed block (a status, a header that does not add up).
    bool receiveBlock(uint32_t frames, std::vector<float>& channels, uint32_t& count);

private:
    testing_support::WsClient client;
    int lastId = 0;
};

// A MIDI record for sendBlock: status and two data bytes on a frame.
void addMidiRecord(std::vector<uint8_t>& records, uint32_t frame, uint8_t status, uint8_t data1,
                   uint8_t data2);

}  // namespace compat
