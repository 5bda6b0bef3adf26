#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <sddl.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "trust/PeerOwner.h"
#include "trust/SocketTable.h"

namespace {

// Under Wine the clients may be Linux processes, which have no Windows
// process and so no owner in the Windows table; the Linux table behind it
// has them all, Wine's own processes included.
bool runsUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// The Linux effective uid of this program under Wine, from the "Uid:" line
// of its /proc status (real, effective, saved, file system).
std::optional<uint32_t> ownLinuxUid() {
    std::ifstream status("Z:\\proc\\self\\status", std::ios::binary);
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Uid:", 0) != 0) continue;
        unsigned long real = 0, effective = 0;
        if (std::sscanf(line.c_str(), "Uid: %lu %lu", &real, &effective) != 2) return std::nullopt;
        return static_cast<uint32_t>(effective);
    }
    return std::nullopt;
}

PeerOwner linuxOwner(const TcpEnd& client, const TcpEnd& server) {
    const auto uid = socketOwner({"Z:\\proc\\net\\tcp", "Z:\\proc\\net\\tcp6"}, client, server);
    const auto own = ownLinuxUid();
    if (!uid || !own) return {};
    return {*uid == *own ? PeerOwner::Relation::SameUser : PeerOwner::Relation::OtherUser,
            std::to_string(*uid)};
}

// One of GetExtendedTcpTable's tables; empty when it cannot be had. The
// table may grow between asking its size and reading it, hence the loop.
std::vector<unsigned char> tcpTable(ULONG family) {
    std::vector<unsigned char> table;
    DWORD size = 0;
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD result = GetExtendedTcpTable(table.empty() ? nullptr : table.data(), &size,
                                                 FALSE, family, TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
        if (result == NO_ERROR && !table.empty()) return table;
        if (result != ERROR_INSUFFICIENT_BUFFER && result != NO_ERROR) break;
        table.assign(size + 16 * sizeof(MIB_TCP6ROW_OWNER_PID), 0);
        size = static_cast<DWORD>(table.size());
    }
    return {};
}

uint16_t portOf(DWORD field) {
    return ntohs(static_cast<u_short>(field));  // network order in the low 16 bits
}

// The process whose socket has the client's end as its local end and ours
// as its remote one. A client on a dual-stack IPv6 socket is in the IPv6
// table, with our IPv4 address mapped.
std::optional<DWORD> owningProcess(const TcpEnd& client, const TcpEnd& server) {
    std::vector<unsigned char> v4 = tcpTable(AF_INET);
    if (!v4.empty()) {
        const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(v4.data());
        for (DWORD i = 0; i < table->dwNumEntries; ++i) {
            const MIB_TCPROW_OWNER_PID& row = table->table[i];
            TcpEnd local, remote;
            local.address = mappedIpv4(reinterpret_cast<const uint8_t*>(&row.dwLocalAddr));
            local.port = portOf(row.dwLocalPort);
            remote.address = mappedIpv4(reinterpret_cast<const uint8_t*>(&row.dwRemoteAddr));
            remote.port = portOf(row.dwRemotePort);
            if (local == client && remote == server) return row.dwOwningPid;
        }
    }
    std::vector<unsigned char> v6 = tcpTable(AF_INET6);
    if (!v6.empty()) {
        const auto* table = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID*>(v6.data());
        for (DWORD i = 0; i < table->dwNumEntries; ++i) {
            const MIB_TCP6ROW_OWNER_PID& row = table->table[i];
            TcpEnd local, remote;
            std::memcpy(local.address.data(), row.ucLocalAddr, 16);
            local.port = portOf(row.dwLocalPort);
            std::memcpy(remote.address.data(), row.ucRemoteAddr, 16);
            remote.port = portOf(row.dwRemotePort);
            if (local == client && remote == server) return row.dwOwningPid;
        }
    }
    return std::nullopt;
}

// The user SID of a process's token, as the bytes of its TOKEN_USER;
// empty when the process or its token cannot be opened (another user's
// process often cannot be: that too counts as no owner found).
std::vector<unsigned char> tokenUser(HANDLE process) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) user.clear();
    CloseHandle(token);
    return user;
}

std::vector<unsigned char> processUser(DWORD pid) {
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return {};
    std::vector<unsigned char> user = tokenUser(process);
    CloseHandle(process);
    return user;
}

std::string sidText(PSID sid) {
    char* text = nullptr;
    if (!ConvertSidToStringSidA(sid, &text)) return "unknown";
    std::string copy(text);
    LocalFree(text);
    return copy;
}

PeerOwner windowsOwner(const TcpEnd& client, const TcpEnd& server) {
    const auto pid = owningProcess(client, server);
    if (!pid) return {};
    const std::vector<unsigned char> theirs = processUser(*pid);
    const std::vector<unsigned char> ours = tokenUser(GetCurrentProcess());
    if (theirs.empty() || ours.empty()) return {};
    const PSID theirSid = reinterpret_cast<const TOKEN_USER*>(theirs.data())->User.Sid;
    const PSID ourSid = reinterpret_cast<const TOKEN_USER*>(ours.data())->User.Sid;
    return {
        EqualSid(theirSid, ourSid) ? PeerOwner::Relation::SameUser : PeerOwner::Relation::OtherUser,
        sidText(theirSid)};
}

}  // namespace

PeerOwner findPeerOwner(const TcpEnd& client, const TcpEnd& server) {
    return runsUnderWine() ? linuxOwner(client, server) : windowsOwner(client, server);
}
