// Drives the real dispatcher (Session) with whole messages, its plug-in
// and GUI thread stood in for (SessionDoubles.h), and checks what each
// message did against the protocol's rules, worked out here on their own.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "fuzz/SessionDoubles.h"
#include "host/Catalogue.h"
#include "host/ScanService.h"
#include "host/Session.h"
#include "host/SessionDefaults.h"

class DispatchCheck {
public:
    // The scan service may serve many checks, one after the other.
    DispatchCheck(ScanService& scans, Catalogue& catalogue);

    void text(std::string_view message);
    void binary(const std::vector<uint8_t>& message);

private:
    void start();

    FuzzGui gui;
    SessionDefaults defaults;
    ScanService& scans;
    Catalogue& catalogue;  // never asked: the original protocol has no catalogue
    std::shared_ptr<FuzzSink> sink;
    std::shared_ptr<Session> session;
    bool restoreArmed = false;  // "setState" was taken: the next binary message is state
};

// Ends the run with a crash that libFuzzer reports, keeping the input.
inline void require(bool condition) {
    if (!condition) __builtin_trap();
}
