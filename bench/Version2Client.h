// The little of protocol 2 (docs/protocol.md) that the benchmark client
// speaks: its requests, and its audio blocks, which carry a header of their
// own in front of the channels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "BenchSocket.h"

constexpr const char* version2Subprotocol = "corvel.2";
constexpr std::size_t version2HeaderBytes = 16;

// Sends {"id": id, <fields>} and waits for the reply with that id, passing
// over events; true when it says "ok": true.
bool version2Request(BenchSocket& socket, int id, const std::string& fields);

// A JSON string: the text in quotes, its quotes and backslashes escaped.
std::string jsonString(const std::string& text);

// A block message: frames, two channels, no records, then the channels.
std::vector<uint8_t> version2Block(const std::vector<uint8_t>& channels, uint32_t frames);

// The channels of a processed block's reply, or null when the reply is not
// one (a status, a header that does not match).
const uint8_t* version2Channels(const uint8_t* reply, std::size_t size, uint32_t frames);
