// The consent box of the Windows program: a page whose origin is not in the
// allow-list is asked about once; Yes lets it in and writes the list, No
// refuses it until the program ends.
#include <cstdlib>
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

std::wstring allowListFile() {
    const wchar_t* appData = _wgetenv(L"APPDATA");
    return std::wstring(appData ? appData : L"") + L"\\Corvel VST Remote\\allowed-origins.txt";
}

// Waits for the box, checks how it looks, and answers it with `button`.
bool answerBox(const ChildProgram& program, const std::string& origin, int button) {
    HWND box = waitForTopWindow(program.id(), L"#32770", kWindowMs);
    check(box && textOf(box) == L"Corvel VST/Remote", origin + " brings up a box titled Corvel VST/Remote");
    if (!box) return false;
    const std::wstring question = L"Allow " + widen(origin) + L" to use the VST plug-ins on this computer?";
    bool asks = false;
    for (const std::wstring& text : childTexts(box)) asks = asks || text == question;
    check(asks, "the box asks whether to allow " + origin);
    check(GetDlgItem(box, IDYES) && GetDlgItem(box, IDNO), "the box has Yes and No");
    PostMessageW(box, WM_COMMAND, button, 0);
    const bool closed = waitUntil([&] { return !IsWindow(box); }, kWindowMs);
    check(closed, "the answered box closes");
    return closed;
}

}  // namespace

void consentChecks(const Options& options) {
    DeleteFileW(allowListFile().c_str());
    ChildProgram program;
    WsClient client;
    if (!startAndConnect(options, program, client, "consent")) return;

    const std::string allowed = "https://allowed.example";
    auto pending = std::async(std::launch::async, [&] { return handshakeStatus(options.port, allowed); });
    answerBox(program, allowed, IDYES);
    const std::string status = pending.get();
    check(status.rfind("HTTP/1.1 101", 0) == 0, "Yes lets the page in", status);
    check(readFileText(allowListFile()).find(allowed + "\n") != std::string::npos,
          "Yes adds the origin to the allow-list file");

    const std::string denied = "https://denied.example";
    pending = std::async(std::launch::async, [&] { return handshakeStatus(options.port, denied); });
    answerBox(program, denied, IDNO);
    const std::string refused = pending.get();
    check(refused.rfind("HTTP/1.1 403", 0) == 0, "No refuses the page", refused);
    const std::string again = handshakeStatus(options.port, denied);
    check(again.rfind("HTTP/1.1 403", 0) == 0 && !waitForTopWindow(program.id(), L"#32770", 1500),
          "a denied origin is refused again without asking", again);

    client.sendText("quit");
    DWORD exitCode = 1;
    check(program.waitForExit(kStartMs, exitCode) && exitCode == 0, "consent: quit ends the program");
    DeleteFileW(allowListFile().c_str());
}
