// The "scanVSTs" walk on Windows: the standard VST 2 folders of both word
// sizes and the client's extra folder, every file whose path ends in "dll".
#include <windows.h>

#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "scan/PluginScan.h"
#include "scan/ScanReply.h"
#include "text/Utf8.h"

namespace {

const wchar_t* const defaultPluginFolders[] = {
    L"C:\\Program Files\\VSTPlugins",
    L"C:\\Program Files\\Steinberg\\VSTPlugins",
    L"C:\\Program Files\\Common Files\\VST2",
    L"C:\\Program Files\\Common Files\\Steinberg\\VST2",
    // Where 32-bit plug-ins go; the 32-bit plug-in process runs them.
    L"C:\\Program Files (x86)\\VSTPlugins",
    L"C:\\Program Files (x86)\\Steinberg\\VSTPlugins",
    L"C:\\Program Files (x86)\\Common Files\\VST2",
    L"C:\\Program Files (x86)\\Common Files\\Steinberg\\VST2",
};

// Strict UTF-8 (no overlong forms, no surrogates) to UTF-16; nothing when
// the text is not valid UTF-8.
std::optional<std::wstring> utf8ToUtf16(const std::string& text) {
    if (!isValidUtf8(text)) return std::nullopt;
    std::wstring wide;
    wide.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<uint8_t>(text[i]);
        size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        uint32_t code = length == 1   ? lead
                        : length == 2 ? lead & 0x1F
                        : length == 3 ? lead & 0x0F
                                      : lead & 0x07;
        for (size_t k = 1; k < length; ++k)
            code = (code << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F);
        i += length;
        if (code >= 0x10000) {
            code -= 0x10000;
            wide.push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
            wide.push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
        } else {
            wide.push_back(static_cast<wchar_t>(code));
        }
    }
    return wide;
}

// UTF-16 to UTF-8, a surrogate pair becoming one four-byte sequence; nothing
// for a lone surrogate, which Windows allows in names but UTF-8 cannot carry.
std::optional<std::string> utf16ToUtf8(const std::wstring& wide) {
    std::string text;
    text.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        uint32_t code = static_cast<uint16_t>(wide[i]);
        if (code >= 0xD800 && code <= 0xDBFF) {
            if (i + 1 >= wide.size()) return std::nullopt;
            const uint32_t low = static_cast<uint16_t>(wide[i + 1]);
            if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            ++i;
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
            return std::nullopt;
        }
        if (code < 0x80) {
            text.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            text.push_back(static_cast<char>(0xC0 | (code >> 6)));
            text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            text.push_back(static_cast<char>(0xE0 | (code >> 12)));
            text.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            text.push_back(static_cast<char>(0xF0 | (code >> 18)));
            text.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            text.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return text;
}

using FolderIdentity = std::tuple<DWORD, DWORD, DWORD>;  // volume serial, file index high, low

// The folder's identity on disk, so that one reached again through a link
// is recognised.
std::optional<FolderIdentity> folderIdentity(const std::wstring& folder) {
    HANDLE handle = CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (!known) return std::nullopt;
    return FolderIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

bool endsWithDll(const std::wstring& path) {
    return path.size() >= 3 && path.compare(path.size() - 3, 3, L"dll") == 0;
}

}  // namespace

std::vector<std::string> findPluginFiles(const std::string& extraFolder,
                                         const std::atomic<bool>& abandoned) {
    std::deque<std::wstring> work;  // used as a stack: the last pushed is walked first
    for (const wchar_t* folder : defaultPluginFolders) work.push_back(folder);
    if (!extraFolder.empty()) {
        // An extra folder that is not valid UTF-8 is skipped; the defaults are still walked.
        if (std::optional<std::wstring> wide = utf8ToUtf16(extraFolder)) work.push_back(*wide);
    }

    std::vector<std::string> found;
    // Folder links are followed, but a folder already walked is not walked
    // again, so link cycles end.
    std::set<FolderIdentity> walked;
    while (!work.empty() && !abandoned.load(std::memory_order_relaxed)) {
        const std::wstring folder = work.back();
        work.pop_back();
        if (std::optional<FolderIdentity> identity = folderIdentity(folder)) {
            if (!walked.insert(*identity).second) continue;
        }

        WIN32_FIND_DATAW entry;
        HANDLE listing = FindFirstFileW((folder + L"\\*").c_str(), &entry);
        if (listing == INVALID_HANDLE_VALUE) continue;
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                work.push_back(path);
            } else if (endsWithDll(path)) {
                if (std::optional<std::string> text = utf16ToUtf8(path)) found.push_back(*text);
            }
        } while (!abandoned.load(std::memory_order_relaxed) && FindNextFileW(listing, &entry));
        FindClose(listing);
    }
    return found;
}

std::string scanReply(const std::string& extraFolder, const std::atomic<bool>& abandoned) {
    return formatWindowsScanReply(findPluginFiles(extraFolder, abandoned));
}
