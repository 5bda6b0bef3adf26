#include <windows.h>

#include "dsp/ModuleFile.h"
#include "dsp/win32/SystemErrorText.h"

namespace Vexa::DSP {

namespace {

HANDLE fileOf(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

void ModuleFile::openNative(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        const bool absent = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                            error == ERROR_INVALID_NAME || error == ERROR_BAD_NETPATH;
        opened = absent ? Status::missing : Status::unreadable;
        systemProblem = systemErrorText(error);
        return;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        opened = Status::folder;
        return;
    }
    // Shared for writing and deleting too, as the loader opens it: a file
    // another program holds open must not be refused here alone.
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        opened = Status::unreadable;
        systemProblem = systemErrorText(GetLastError());
        return;
    }
    handle = reinterpret_cast<intptr_t>(file);
    LARGE_INTEGER size{};
    if (GetFileType(file) != FILE_TYPE_DISK) {
        opened = Status::special;
    } else if (!GetFileSizeEx(file, &size) || size.QuadPart < 0) {
        opened = Status::unreadable;
        systemProblem = systemErrorText(GetLastError());
    } else {
        opened = Status::open;
        fileSize = static_cast<uint64_t>(size.QuadPart);
    }
}

bool ModuleFile::readNative(uint64_t offset, void* out, std::size_t count) {
    auto* bytes = static_cast<char*>(out);
    while (count > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD chunk = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
        DWORD got = 0;
        if (!ReadFile(fileOf(handle), bytes, chunk, &got, &at) || got == 0) return false;
        bytes += got;
        offset += got;
        count -= got;
    }
    return true;
}

void ModuleFile::closeNative() {
    if (handle != -1) CloseHandle(fileOf(handle));
    handle = -1;
}

}  // namespace Vexa::DSP
