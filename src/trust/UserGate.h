// Decides at the handshake whether the client is a process of the user the
// program runs as: another user on the same computer must not reach the
// plug-ins, which run with this user's rights.
#pragma once

#include <optional>
#include <string_view>

#include "trust/HandshakeRefusal.h"

// Worker thread. The two ends of the connection as the server library
// reports them, IPv4 addresses as dotted text. Refuses another user's
// client, and one whose owner cannot be found within a short wait.
std::optional<HandshakeRefusal> refuseOtherUser(std::string_view clientAddress, int clientPort,
                                                std::string_view serverAddress, int serverPort);
