// What a gate answers a handshake it turns away.
#pragma once

#include <string>

struct HandshakeRefusal {
    int httpStatus;
    std::string body;     // one line for whoever reads the response
    std::string logLine;  // for standard output, with its newline
};
