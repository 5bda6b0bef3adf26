#include <windows.h>

#include <cstdint>
#include <string>

#include "trust/AllowListFile.h"

namespace {

// Owns one handle.
class Handle {
public:
    explicit Handle(HANDLE handle) : handle(handle) {}
    ~Handle() {
        if (valid()) CloseHandle(handle);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool valid() const { return handle != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle; }

private:
    HANDLE handle;
};

constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string failed(const char* what) {
    return std::string("cannot be ") + what + " (error " + std::to_string(GetLastError()) + ")";
}

// Why the open file cannot be the allow-list; empty when it can. A pipe or
// a device at the path reports another type than a disk file.
std::string problemWith(HANDLE file, std::size_t adding, LARGE_INTEGER& size) {
    const DWORD type = GetFileType(file);
    if (type == FILE_TYPE_PIPE) return "is a pipe, not a regular file";
    if (type != FILE_TYPE_DISK) return "is a device, not a regular file";
    if (!GetFileSizeEx(file, &size)) return failed("examined");
    if (static_cast<uint64_t>(size.QuadPart) + adding > maxAllowListBytes)
        return adding ? "would grow past 64 KiB" : "is larger than 64 KiB";
    return {};
}

}  // namespace

AllowListBytes readAllowListFile(const std::filesystem::path& file) {
    AllowListBytes result;
    const Handle handle(CreateFileW(file.c_str(), GENERIC_READ, shareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle.valid()) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            result.refusal = failed("opened");
        return result;
    }
    LARGE_INTEGER size{};
    result.refusal = problemWith(handle.get(), 0, size);
    if (!result.refusal.empty()) return result;
    // The size can change after the check: read one byte past the bound to see.
    std::string text(maxAllowListBytes + 1, '\0');
    std::size_t used = 0;
    while (used < text.size()) {
        DWORD got = 0;
        if (!ReadFile(handle.get(), &text[used], static_cast<DWORD>(text.size() - used), &got,
                      nullptr)) {
            result.refusal = failed("read");
            return result;
        }
        if (got == 0) break;
        used += got;
    }
    if (used > maxAllowListBytes) {
        result.refusal = "is larger than 64 KiB";
        return result;
    }
    text.resize(used);
    result.text = std::move(text);
    return result;
}

bool appendToAllowListFile(const std::filesystem::path& file, std::string_view text,
                           std::string& why) {
    const Handle handle(CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, shareAll, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle.valid()) {
        why = failed("opened");
        return false;
    }
    LARGE_INTEGER size{};
    why = problemWith(handle.get(), text.size() + 1, size);
    if (!why.empty()) return false;
    // A last line without its newline must not swallow the new entry.
    std::string line;
    if (size.QuadPart > 0) {
        LARGE_INTEGER lastByte{};
        lastByte.QuadPart = size.QuadPart - 1;
        char last = '\n';
        DWORD got = 0;
        if (SetFilePointerEx(handle.get(), lastByte, nullptr, FILE_BEGIN) &&
            ReadFile(handle.get(), &last, 1, &got, nullptr) && got == 1 && last != '\n')
            line = "\n";
    }
    line.append(text).push_back('\n');
    LARGE_INTEGER end{};
    DWORD written = 0;
    if (!SetFilePointerEx(handle.get(), end, nullptr, FILE_END) ||
        !WriteFile(handle.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size()) {
        why = failed("written");
        return false;
    }
    return true;
}
