// The Linux kernel's TCP socket tables (/proc/net/tcp, /proc/net/tcp6): who
// owns the socket at one end of a connection. Read by the Linux program, and
// by the Windows program under Wine, whose clients are Linux processes.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "trust/TcpEnd.h"

// The uid column of the row whose local end is `own` and remote end `peer`,
// in the text of one table. Addresses there are the kernel's 32-bit words
// printed in hex, so the bytes come back in this machine's order, which is
// the kernel's (under Wine too). A row whose inode is 0 has no open socket
// behind it (closed, or in TIME_WAIT, where the uid column reads 0), so no
// one owns it: such a row does not count.
std::optional<uint32_t> socketOwnerIn(std::string_view table, const TcpEnd& own,
                                      const TcpEnd& peer);

// The same over the files of the tables, given by their paths as this
// platform names them; a table that cannot be read counts as empty.
std::optional<uint32_t> socketOwner(std::initializer_list<const char*> tables, const TcpEnd& own,
                                    const TcpEnd& peer);
