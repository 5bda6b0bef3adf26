// Starting the host controller, shared by both platforms' entry points.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class GuiThread;
class VST2Host;

// 9001, or the port in CORVEL_TEST_PORT (tests run several at once).
uint16_t listeningPort();

// The host, or null with a message for the user when the port cannot be bound.
std::unique_ptr<VST2Host> startHost(GuiThread& gui, std::string& error);
