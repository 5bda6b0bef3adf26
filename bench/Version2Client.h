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

// A block message: frames, the channels' count (as many as `channels`
// holds, planar, `frames` each), the records (whole, padded ones), then the
// channels.
std::vector<uint8_t> version2Block(const std::vector<uint8_t>& channels, uint32_t frames,
                                   const std::vector<uint8_t>& records = {});

// Records for version2Block, appended to `records`: a parameter change on a
// frame, and a MIDI event (status, two data bytes) on a frame.
void addParameterRecord(std::vector<uint8_t>& records, uint32_t frame, uint32_t index, float value);
void addMidiRecord(std::vector<uint8_t>& records, uint32_t frame, uint8_t status, uint8_t data1,
                   uint8_t data2);

// The channels of a processed block's reply, or null when the reply is not
// one (a status, records, a header that does not match `frames` and
// `channels`).
const uint8_t* version2Channels(const uint8_t* reply, std::size_t size, uint32_t frames,
                                uint32_t channels = 2);
