// An anonymous memory file: it has no name to leave behind, and goes when
// the last descriptor and mapping of it go. Sealed at its size before the
// plug-in process gets it: a child that shrank it would otherwise kill the
// program with SIGBUS at the next block.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bridge/SharedRegion.h"

namespace bridge {

namespace {

SharedBlock* mapBlock(int descriptor, std::size_t size) {
    void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, 0);
    return memory == MAP_FAILED ? nullptr : static_cast<SharedBlock*>(memory);
}

}  // namespace

std::unique_ptr<SharedRegion> SharedRegion::create(const ChannelLayout& layout) {
    if (!layout.valid()) return nullptr;
    const int descriptor = memfd_create("corvel-session-block", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (descriptor < 0) return nullptr;
    const std::size_t size = regionBytes(layout);
    SharedBlock* mapped = nullptr;
    if (ftruncate(descriptor, static_cast<off_t>(size)) == 0 &&
        fcntl(descriptor, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) == 0)
        mapped = mapBlock(descriptor, size);
    if (!mapped) {
        close(descriptor);
        return nullptr;
    }
    // Touched once here, so no block ever takes a page fault in it (a
    // refusal, past the user's limit of locked memory, only costs that).
    mlock(mapped, size);
    mapped->layout = layout;
    return std::unique_ptr<SharedRegion>(new SharedRegion(descriptor, mapped, layout));
}

std::unique_ptr<SharedRegion> SharedRegion::attach(int handle) {
    struct stat file {};
    if (fstat(handle, &file) != 0 || static_cast<std::size_t>(file.st_size) < sizeof(SharedBlock))
        return nullptr;
    const auto size = static_cast<std::size_t>(file.st_size);
    SharedBlock* mapped = mapBlock(handle, size);
    if (!mapped) return nullptr;
    const ChannelLayout layout = mapped->layout;
    if (!layout.valid() || regionBytes(layout) > size) {
        munmap(mapped, size);
        return nullptr;
    }
    return std::unique_ptr<SharedRegion>(new SharedRegion(handle, mapped, layout));
}

SharedRegion::~SharedRegion() {
    munmap(mapped, regionBytes(channels));
    close(descriptor);
}

}  // namespace bridge
