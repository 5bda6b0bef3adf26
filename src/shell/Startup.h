// Starting the host controller, shared by both platforms' entry points.
#pragma once

#include <cstdint>
#include <string>

class VST2Host;

// 9001, or the port in CORVEL_TEST_PORT (tests run several at once).
uint16_t listeningPort();

// The host, or null with a message for the user when the port cannot be bound.
VST2Host* startHost(std::string& error);
