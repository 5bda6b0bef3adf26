// Which user owns the client's end of a TCP connection to this program, and
// whether that is the user the program runs as. Platform code: the Linux
// socket tables, or the Windows TCP table and the owning process's token.
#pragma once

#include <string>

#include "trust/TcpEnd.h"

struct PeerOwner {
    enum class Relation { SameUser, OtherUser, Unknown };
    Relation relation = Relation::Unknown;
    std::string user;  // as the platform names it (a uid, a SID); empty when Unknown
};

// One look, on the calling thread: a client end not in the table (yet, or
// any more) is Unknown. `server` is the program's end of the connection.
PeerOwner findPeerOwner(const TcpEnd& client, const TcpEnd& server);
