// One session's shared block: made by the program, handed to the plug-in
// process as a handle it inherits, unmapped and closed by each side's owner.
#pragma once

#include <memory>

#include "bridge/SharedBlock.h"

namespace bridge {

class SharedRegion {
public:
    // A fresh, zeroed region; null when the system refuses one.
    static std::unique_ptr<SharedRegion> create();
    // The region behind an inherited handle.
    static std::unique_ptr<SharedRegion> attach(int handle);
    ~SharedRegion();
    SharedRegion(const SharedRegion&) = delete;
    SharedRegion& operator=(const SharedRegion&) = delete;

    SharedBlock& block() { return *mapped; }
    int handle() const { return descriptor; }

private:
    SharedRegion(int descriptor, SharedBlock* mapped) : descriptor(descriptor), mapped(mapped) {}

    int descriptor;
    SharedBlock* mapped;
};

}  // namespace bridge
