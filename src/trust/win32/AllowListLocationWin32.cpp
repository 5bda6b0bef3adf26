#include <windows.h>
#include <shlobj.h>

#include <cstdlib>

#include "trust/AllowListLocation.h"

std::filesystem::path allowListLocation() {
    std::filesystem::path base;
    if (const wchar_t* appData = _wgetenv(L"APPDATA"); appData && *appData) {
        base = appData;
    } else {
        wchar_t folder[MAX_PATH] = {};
        if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, folder))) base = folder;
    }
    return base / L"Corvel VST Remote" / L"allowed-origins.txt";
}
