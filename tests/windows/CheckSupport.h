// Helpers shared by the Windows checks: reporting, paths, windows of the
// program under test, and starting it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ChildProgram.h"
#include "WsClient.h"

using testing_support::WsClient;

void check(bool ok, const std::string& name, const std::string& detail = "");
int passedChecks();
int failedChecks();

std::string narrow(const std::wstring& wide);
std::wstring widen(const std::string& text);
// Build-tree paths arrive as Unix paths; Wine shows the Unix root as drive Z:.
std::wstring windowsPath(const std::string& path);
bool waitUntil(const std::function<bool()>& condition, int timeoutMs);

std::wstring classOf(HWND window);
std::wstring textOf(HWND window);
// The texts of a window's direct children, in order.
std::vector<std::wstring> childTexts(HWND parent);
// Top-level windows with the given class of a process or of the processes
// it started (its plug-in processes, which hold the editor frames).
std::vector<HWND> topWindows(DWORD process, const std::wstring& className);
HWND waitForTopWindow(DWORD process, const std::wstring& className, int timeoutMs);
// The kernel handles a process holds, -1 when the system does not say.
int handleCountOf(DWORD process);
SIZE clientSize(HWND window);
SIZE outerSize(HWND window);
std::string sizeText(SIZE size);
std::string readFileText(const std::wstring& path);
// The icons in Wine's notification area (Wine draws each as a window of its own).
std::vector<HWND> wineTrayIcons();

struct Options {
    std::string scenario;
    std::wstring program;
    std::string plugins;
    std::string scanRoot;
    uint16_t port = 9400;
};

constexpr int kStartMs = 30000;
constexpr int kReplyMs = 15000;
constexpr int kWindowMs = 10000;

std::wstring pluginPath(const Options& options, const char* kind);
// Starts the program and connects to it; the banner is left for the caller.
bool startAndConnect(const Options& options, ChildProgram& program, WsClient& client, const std::string& label);
// Receives one message and checks that it is the text `expected`.
bool receiveText(WsClient& client, const std::string& expected, const std::string& name);
// Waits for the program's end and checks that its status is 0.
void checkEndsCleanly(ChildProgram& program, const std::string& name);

// The scenarios.
void sessionChecks(const Options& options);
void trayChecks(const Options& options);
void closeChecks(const Options& options);
void scanChecks(const Options& options);
void consentChecks(const Options& options);
