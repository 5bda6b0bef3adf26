// What a user of the Windows program meets, checked from outside its
// process under Wine (or on Windows), in two runs of the program:
//   shell    the hidden main window and its About box, the tray icon and
//            menu, the consent box and the folder scan;
//   plugins  editor frames, handles after plug-in crashes, a close request.
//
//   corvel-windows-check shell|plugins PORT PROGRAM PLUGIN-DIR SCAN-ROOT
//
// Prints one line per check; exits 0 only when every check passed.
#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "CheckSupport.h"

int wmain(int argc, wchar_t** argv) {
    const bool shell = argc == 6 && std::wcscmp(argv[1], L"shell") == 0;
    if (argc != 6 || (!shell && std::wcscmp(argv[1], L"plugins") != 0)) {
        std::fprintf(
            stderr,
            "usage: corvel-windows-check shell|plugins PORT PROGRAM PLUGIN-DIR SCAN-ROOT\n");
        return 2;
    }
    const Options options{windowsPath(argv[3]), windowsPath(argv[4]), windowsPath(argv[5]),
                          static_cast<uint16_t>(_wtoi(argv[2]))};
    shell ? shellChecks(options) : pluginChecks(options);
    return checksResult();
}
