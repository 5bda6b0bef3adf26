// A page-file-backed section with no name: it goes when the last handle and
// view of it go. Its two wake events live beside it, their numbers in the
// block, and go with it.
#include <windows.h>

#include "bridge/SharedRegion.h"

namespace bridge {

namespace {

// The whole section, whatever its size.
SharedBlock* mapBlock(HANDLE section) {
    return static_cast<SharedBlock*>(
        MapViewOfFile(section, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
}

std::size_t mappedSize(const void* view) {
    MEMORY_BASIC_INFORMATION info{};
    return VirtualQuery(view, &info, sizeof info) ? info.RegionSize : 0;
}

// Inheritable, so that the plug-in process can be given it by name in its
// list of inherited handles; no other process is started without a list.
HANDLE inheritableEvent() {
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreateEventW(&inherited, FALSE, FALSE, nullptr);
}

void closeEvent(uint32_t event) {
    if (event != 0) CloseHandle(ULongToHandle(event));
}

}  // namespace

std::unique_ptr<SharedRegion> SharedRegion::create(const ChannelLayout& layout) {
    if (!layout.valid()) return nullptr;
    const std::size_t size = regionBytes(layout);
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE section =
        CreateFileMappingW(INVALID_HANDLE_VALUE, &inherited, PAGE_READWRITE | SEC_COMMIT, 0,
                           static_cast<DWORD>(size), nullptr);
    if (!section) return nullptr;
    SharedBlock* mapped = mapBlock(section);
    if (!mapped) {
        CloseHandle(section);
        return nullptr;
    }
    // Kept from the page file, so no block takes a page fault in it; a
    // refusal (the working set's limit) only costs that.
    VirtualLock(mapped, size);
    mapped->layout = layout;
    auto region =
        std::unique_ptr<SharedRegion>(new SharedRegion(HandleToLong(section), mapped, layout));
    HANDLE request = inheritableEvent();
    HANDLE reply = inheritableEvent();
    mapped->request.event = HandleToULong(request);
    mapped->reply.event = HandleToULong(reply);
    if (!request || !reply) return nullptr;
    return region;
}

std::unique_ptr<SharedRegion> SharedRegion::attach(int handle) {
    SharedBlock* mapped = mapBlock(LongToHandle(handle));
    if (!mapped) return nullptr;
    const ChannelLayout layout = mapped->layout;
    if (mappedSize(mapped) < sizeof(SharedBlock) || !layout.valid() ||
        regionBytes(layout) > mappedSize(mapped)) {
        UnmapViewOfFile(mapped);
        return nullptr;
    }
    return std::unique_ptr<SharedRegion>(new SharedRegion(handle, mapped, layout));
}

SharedRegion::~SharedRegion() {
    // The events' numbers are this process's own handles on either side:
    // the plug-in process inherited them under the same numbers.
    closeEvent(mapped->request.event);
    closeEvent(mapped->reply.event);
    UnmapViewOfFile(mapped);
    CloseHandle(LongToHandle(descriptor));
}

}  // namespace bridge
