// The client's side of the hand-off floor: asks corvel-bench-handoff for
// batches of timed hand-offs through its memory file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "HandoffArea.h"

class HandoffClient {
public:
    HandoffClient() = default;
    ~HandoffClient();
    HandoffClient(const HandoffClient&) = delete;
    HandoffClient& operator=(const HandoffClient&) = delete;

    // False when the file is missing or too short.
    bool open(const std::string& path);
    // Times count hand-offs, appending each one's nanoseconds to into when
    // given. False when the floor does not answer within 10 s.
    bool run(int count, std::vector<int64_t>* into);

private:
    HandoffArea* area = nullptr;
};
