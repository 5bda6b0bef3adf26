#include "trust/UserGate.h"

#include <chrono>
#include <string>
#include <thread>

#include "trust/PeerOwner.h"
#include "trust/TcpEnd.h"

namespace {

// A live client's end is in the table before its request can arrive (200
// handshakes in a row never missed it at the first look), but the table is
// not read atomically while connections come and go, so a missing row gets
// two more looks. One look reads the whole table: 3 to 15 ms with 2,000
// sockets on the machine, next to which the waits are small.
constexpr int ownerLooks = 3;
constexpr auto betweenLooks = std::chrono::milliseconds(2);

HandshakeRefusal refusal(const std::string& user, const std::string& why) {
    return {403, "Refused: this program serves only the user it runs as, and " + why + ".",
            "WS refused user " + user + "\n"};
}

}  // namespace

std::optional<HandshakeRefusal> refuseOtherUser(std::string_view clientAddress, int clientPort,
                                                std::string_view serverAddress, int serverPort) {
    const auto client = tcpEndOf(clientAddress, clientPort);
    const auto server = tcpEndOf(serverAddress, serverPort);
    PeerOwner owner;
    for (int look = 0; client && server && look < ownerLooks; ++look) {
        if (look > 0) std::this_thread::sleep_for(betweenLooks);
        owner = findPeerOwner(*client, *server);
        if (owner.relation != PeerOwner::Relation::Unknown) break;
    }
    switch (owner.relation) {
        case PeerOwner::Relation::SameUser:
            return std::nullopt;
        case PeerOwner::Relation::OtherUser:
            return refusal(owner.user, "this connection comes from user " + owner.user);
        case PeerOwner::Relation::Unknown:
            break;
    }
    return refusal("unknown", "the owner of this connection cannot be found");
}
