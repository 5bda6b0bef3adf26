#include <windows.h>
#include <shlobj.h>

#include <cstdlib>

#include "host/CatalogueFiles.h"

std::filesystem::path catalogueCacheLocation() {
    std::filesystem::path base;
    if (const wchar_t* localAppData = _wgetenv(L"LOCALAPPDATA"); localAppData && *localAppData) {
        base = localAppData;
    } else {
        wchar_t folder[MAX_PATH] = {};
        if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, folder))) return {};
        base = folder;
    }
    return base / L"Corvel VST Remote" / L"catalogue.json";
}

bool replaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
    return MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
