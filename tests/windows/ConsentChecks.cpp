// The consent box of the Windows program: a page whose origin is not in the
// allow-list is asked about; Yes lets it in and writes the list under
// %APPDATA%, No refuses it. An oversized list is not read.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>

#include "CheckSupport.h"

namespace {

// One handshake with an Origin header; the response's status line.
std::string handshakeStatus(uint16_t port, const std::string& origin) {
    WsClient page;
    page.useHeaders("", origin);
    page.connectOnce(port, 90000);  // longer than the box waits for an answer
    const std::string& response = page.handshakeResponse();
    return response.substr(0, response.find("\r\n"));
}

// A page of `origin` connects; the box it brings up is checked and answered
// with `button`. Returns the page's status line.
std::string answerBox(const Options& options, const ChildProgram& program,
                      const std::string& origin, int button) {
    auto page =
        std::async(std::launch::async, [&] { return handshakeStatus(options.port, origin); });
    HWND box = waitForTopWindow(program.id(), L"#32770", kWindowMs);
    const std::wstring question = L"Allow " + std::wstring(origin.begin(), origin.end()) +
                                  L" to use the VST plug-ins on this computer?";
    check(box && textOf(box) == L"Corvel VST/Remote" &&
              FindWindowExW(box, nullptr, nullptr, question.c_str()) && GetDlgItem(box, IDYES) &&
              GetDlgItem(box, IDNO),
          origin + " brings up a box titled Corvel VST/Remote that asks whether to allow it, with "
                   "Yes and No",
          box ? narrow(textOf(box)) : "no box");
    PostMessageW(box, WM_COMMAND, button, 0);
    check(box && waitUntil([&] { return !IsWindow(box); }, kWindowMs), "the answered box closes");
    return page.get();
}

}  // namespace

void consentChecks(const Options& options, const ChildProgram& program) {
    const wchar_t* appData = _wgetenv(L"APPDATA");
    const std::wstring allowList =
        std::wstring(appData ? appData : L"") + L"\\Corvel VST Remote\\allowed-origins.txt";
    DeleteFileW(allowList.c_str());

    const std::string allowed = "https://allowed.example";
    const std::string status = answerBox(options, program, allowed, IDYES);
    check(status.rfind("HTTP/1.1 101", 0) == 0, "Yes lets the page in", status);
    check(readFileText(allowList).find(allowed + "\n") != std::string::npos,
          "Yes adds the origin to the allow-list file");

    // A list past 64 KiB counts as empty: the origin it names is asked about.
    const std::string denied = "https://denied.example";
    {
        std::ofstream list(std::filesystem::path(allowList), std::ios::binary);
        list << denied << "\n" << std::string(64 * 1024, '#');
    }
    const std::string refused = answerBox(options, program, denied, IDNO);
    check(refused.rfind("HTTP/1.1 403", 0) == 0, "No refuses the page", refused);
    DeleteFileW(allowList.c_str());
}
