// An anonymous memory file: it has no name to leave behind, and goes when
// the last descriptor and mapping of it go. Sealed at its size before the
// plug-in process gets it: a child that shrank it would otherwise kill the
// program with SIGBUS at the next block.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "bridge/SharedRegion.h"

namespace bridge {

namespace {

SharedBlock* mapBlock(int descriptor) {
    void* memory =
        mmap(nullptr, sizeof(SharedBlock), PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, 0);
    return memory == MAP_FAILED ? nullptr : static_cast<SharedBlock*>(memory);
}

}  // namespace

std::unique_ptr<SharedRegion> SharedRegion::create() {
    const int descriptor = memfd_create("corvel-session-block", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (descriptor < 0) return nullptr;
    SharedBlock* mapped = nullptr;
    if (ftruncate(descriptor, sizeof(SharedBlock)) == 0 &&
        fcntl(descriptor, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) == 0)
        mapped = mapBlock(descriptor);
    if (!mapped) {
        close(descriptor);
        return nullptr;
    }
    // Touched once here, so no block ever takes a page fault in it.
    mlock(mapped, sizeof(SharedBlock));
    return std::unique_ptr<SharedRegion>(new SharedRegion(descriptor, mapped));
}

std::unique_ptr<SharedRegion> SharedRegion::attach(int handle) {
    SharedBlock* mapped = mapBlock(handle);
    if (!mapped) return nullptr;
    return std::unique_ptr<SharedRegion>(new SharedRegion(handle, mapped));
}

SharedRegion::~SharedRegion() {
    munmap(mapped, sizeof(SharedBlock));
    close(descriptor);
}

}  // namespace bridge
