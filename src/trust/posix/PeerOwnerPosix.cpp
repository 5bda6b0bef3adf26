#include <unistd.h>

#include <string>

#include "trust/PeerOwner.h"
#include "trust/SocketTable.h"

PeerOwner findPeerOwner(const TcpEnd& client, const TcpEnd& server) {
    // The client's own row: its end local, ours remote. A client on an IPv6
    // socket is in tcp6 even when it reached our IPv4 address.
    const auto uid = socketOwner({"/proc/net/tcp", "/proc/net/tcp6"}, client, server);
    if (!uid) return {};
    // The table's uid is the one that created the socket, an effective uid.
    return {*uid == geteuid() ? PeerOwner::Relation::SameUser : PeerOwner::Relation::OtherUser,
            std::to_string(*uid)};
}
