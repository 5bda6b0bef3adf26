// Both ends of the pipe are opened for overlapped use, so that a read can
// wait with a timeout and be cancelled when the pipe is closed.
#include <windows.h>

#include <algorithm>

#include "bridge/CommandPipe.h"

namespace bridge {

namespace {

HANDLE handleOf(int descriptor) {
    return LongToHandle(descriptor);
}

// One overlapped transfer, waited for at most timeoutMs (forever when
// negative). Returns the bytes moved, 0 on a timeout, -1 when the pipe ended.
long transfer(HANDLE pipe, bool reading, void* bytes, DWORD size, int timeoutMs) {
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!done) return -1;
    OVERLAPPED operation = {};
    operation.hEvent = done;
    const BOOL finished = reading ? ReadFile(pipe, bytes, size, nullptr, &operation)
                                  : WriteFile(pipe, bytes, size, nullptr, &operation);
    long result = -1;
    if (finished || GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(done, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs)) ==
            WAIT_TIMEOUT)
            CancelIoEx(pipe, &operation);
        // Waited for in full even when cancelled: the operation must end
        // before its record and buffer go, and may have moved bytes anyway.
        DWORD moved = 0;
        if (GetOverlappedResult(pipe, &operation, &moved, TRUE)) result = static_cast<long>(moved);
        else if (GetLastError() == ERROR_OPERATION_ABORTED && timeoutMs >= 0) result = 0;
    }
    CloseHandle(done);
    return result;
}

// Pieces at most this large, so a length always fits a DWORD.
constexpr std::size_t maxPiece = 1u << 20;

}  // namespace

CommandPipe::CommandPipe(int descriptor) : descriptor(descriptor) {}

CommandPipe::~CommandPipe() {
    CloseHandle(handleOf(descriptor));
}

void CommandPipe::close() {
    // Disconnected rather than closed: the other side reads the end, a read
    // of ours in progress is cancelled, and the handle's number is not
    // reused under it. (Only the program's end, the server's, is closed so.)
    DisconnectNamedPipe(handleOf(descriptor));
    CancelIoEx(handleOf(descriptor), nullptr);
}

bool CommandPipe::writeExactly(const void* data, std::size_t size) {
    auto* bytes = static_cast<char*>(const_cast<void*>(data));
    while (size > 0) {
        const DWORD piece = static_cast<DWORD>(std::min(size, maxPiece));
        const long written = transfer(handleOf(descriptor), false, bytes, piece, -1);
        if (written <= 0) return false;
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

long CommandPipe::readSome(void* target, std::size_t size, int waitMs) {
    const DWORD piece = static_cast<DWORD>(std::min(size, maxPiece));
    return transfer(handleOf(descriptor), true, target, piece, waitMs);
}

}  // namespace bridge
