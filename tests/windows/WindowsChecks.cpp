// What a user of the Windows program sees, checked from outside the process:
// the hidden main window, the About box, the tray menu,
// the plug-in editor windows, the folder scan and the way the program ends.
// Runs under Wine (or on Windows) next to the program under test.
//
//   corvel-windows-check SCENARIO --program EXE [--plugins DIR] [--port N] [--scan-root DIR]
//
// Scenarios: session, tray, close, scan, consent. Prints one line per
// check and a closing "N passed, N failed"; exits 0 only when every check passed.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "CheckSupport.h"

int wmain(int argc, wchar_t** argv) {
    Options options;
    if (argc < 2) {
        std::fprintf(stderr, "usage: corvel-windows-check SCENARIO --program EXE [--plugins DIR] "
                             "[--port N] [--scan-root DIR]\n");
        return 2;
    }
    options.scenario = narrow(argv[1]);
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::wstring key = argv[i];
        const std::string value = narrow(argv[i + 1]);
        if (key == L"--program") {
            options.program = windowsPath(value);
        } else if (key == L"--plugins") {
            options.plugins = value;
        } else if (key == L"--port") {
            options.port = static_cast<uint16_t>(std::atoi(value.c_str()));
        } else if (key == L"--scan-root") {
            options.scanRoot = value;
        }
    }

    const std::map<std::string, void (*)(const Options&)> scenarios = {
        {"session", sessionChecks}, {"tray", trayChecks},   {"close", closeChecks},
        {"scan", scanChecks},       {"consent", consentChecks},
    };
    const auto scenario = scenarios.find(options.scenario);
    if (scenario == scenarios.end() || options.program.empty()) {
        std::fprintf(stderr, "unknown scenario or no --program\n");
        return 2;
    }
    scenario->second(options);
    std::printf("%d passed, %d failed\n", passedChecks(), failedChecks());
    return failedChecks() == 0 && passedChecks() > 0 ? 0 : 1;
}
