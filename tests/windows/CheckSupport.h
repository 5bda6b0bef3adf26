// Helpers shared by the Windows checks: reporting, paths, windows of the
// program under test, and starting it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ChildProgram.h"
#include "WaitUntil.h"
#include "WsClient.h"

using testing_support::waitUntil;
using testing_support::WsClient;

void check(bool ok, const std::string& name, const std::string& detail = "");
// The run's exit status: 0 only when checks ran and every one passed.
int checksResult();

std::string narrow(const std::wstring& wide);
// Build-tree paths arrive as Unix paths; Wine shows the Unix root as drive Z:.
std::wstring windowsPath(std::wstring path);
std::string readFileText(const std::wstring& path);

std::wstring textOf(HWND window);
// Top-level windows with the given class of a process or of the processes
// it started (its plug-in processes, which hold the editor frames).
std::vector<HWND> topWindows(DWORD process, const std::wstring& className);
// A visible one, other than `other`.
HWND waitForTopWindow(DWORD process, const std::wstring& className, int timeoutMs,
                      HWND other = nullptr);
// The program's one main window, or null.
HWND mainWindowOf(DWORD process);

struct Options {  // Windows paths
    std::wstring program;
    std::wstring plugins;
    std::wstring scanRoot;
    uint16_t port;
};

constexpr int kStartMs = 30000;
constexpr int kReplyMs = 15000;
constexpr int kWindowMs = 10000;

// Starts the program, connects and takes the banner.
bool startAndConnect(const Options& options, ChildProgram& program, WsClient& client);
// Receives messages in order and checks their payloads (a binary reply compares as its bytes).
void receiveAll(WsClient& client, const std::vector<std::string>& expected,
                const std::string& name);
// Waits for the program's end and checks that its status is 0.
void checkEndsCleanly(ChildProgram& program, const std::string& name);

// The two scenarios, each on one run of the program.
void shellChecks(const Options& options);
void pluginChecks(const Options& options);
// Parts of the shell scenario.
void consentChecks(const Options& options, const ChildProgram& program);
void scanChecks(const Options& options, WsClient& client);
