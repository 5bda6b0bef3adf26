// Entry point of the Windows plug-in process: one session's plug-in, its
// editor on this (the main) thread, its blocks on an audio thread, its
// commands on a third. The program's job ends it when the program ends.
// Its arguments are those of bridge/LaunchContract.h; or "--probe <path>"
// for the catalogue (pluginhost/Probe.h).
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>

#include "bridge/CommandPipe.h"
#include "bridge/LaunchContract.h"
#include "bridge/SharedRegion.h"
#include "host/InProcessSlot.h"
#include "pluginhost/AudioLoop.h"
#include "pluginhost/CommandLoop.h"
#include "pluginhost/EventForwarder.h"
#include "pluginhost/Probe.h"
#include "shell/win32/Win32GuiThread.h"
#include "shell/win32/Win32Module.h"

HINSTANCE appInstance = nullptr;

namespace {

constexpr wchar_t kTaskWindowClass[] = L"CorvelPluginHostTasks";

bool programIsRunning(DWORD programId) {
    HANDLE program = OpenProcess(SYNCHRONIZE, FALSE, programId);
    if (!program) return false;
    const bool running = WaitForSingleObject(program, 0) == WAIT_TIMEOUT;
    CloseHandle(program);
    return running;
}

// A plug-in's crash ends the process at once, with the exception's code as
// its exit code, before any debugger or error report is started for it.
LONG WINAPI endOnCrash(EXCEPTION_POINTERS* crash) {
    TerminateProcess(GetCurrentProcess(), crash->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

LRESULT CALLBACK taskWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_GUI_TASK:
            Win32GuiThread::runPosted(lParam);
            return 0;
        case WM_QUIT_HOST:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

// The target of the GUI thread's tasks: a window that only receives messages.
HWND createTaskWindow() {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = taskWindowProc;
    windowClass.hInstance = appInstance;
    windowClass.lpszClassName = kTaskWindowClass;
    if (!RegisterClassExW(&windowClass)) return nullptr;
    return CreateWindowExW(0, kTaskWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           appInstance, nullptr);
}

// What we inherited goes no further: a process that a plug-in starts must
// not hold the pipe open after we are gone, or the program would not see
// our end.
void keepToOurselves(std::initializer_list<unsigned long> handles) {
    for (unsigned long handle : handles)
        SetHandleInformation(ULongToHandle(handle), HANDLE_FLAG_INHERIT, 0);
}

// The probe's path as given: argv holds it in the ANSI code page, which
// cannot spell every path.
std::string probePath() {
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    std::string path;
    if (words && count == 3) {
        const int length =
            WideCharToMultiByte(CP_UTF8, 0, words[2], -1, nullptr, 0, nullptr, nullptr);
        if (length > 1) {
            path.resize(static_cast<std::size_t>(length));
            WideCharToMultiByte(CP_UTF8, 0, words[2], -1, path.data(), length, nullptr, nullptr);
            path.pop_back();  // the terminator
        }
    }
    LocalFree(words);
    return path;
}

int probe() {
    // Our lines keep the standard output; what the plug-in prints goes to
    // standard error (a runtime loaded from here on reads the new handle).
    HANDLE lines = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE));
    const int status = runProbe(probePath(), [lines](const std::string& line) {
        DWORD written = 0;
        WriteFile(lines, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    });
    // Nothing is unloaded: a plug-in's teardown could still crash or hang.
    std::_Exit(status);
}

}  // namespace

int main(int argc, char** argv) {
    // A crashing plug-in ends this process at once, with its exception as
    // the exit code, instead of waiting on a dialog nobody answers.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(endOnCrash);
    // The same for a plug-in's abort(), which in a windowed program would
    // first ask in a message box.
    _set_error_mode(_OUT_TO_STDERR);
    if (argc == 3 && std::strcmp(argv[1], "--probe") == 0) return probe();
    const auto launch = bridge::parseLaunch(argc, argv);
    if (!launch) return 2;
    if (!programIsRunning(static_cast<DWORD>(launch->programId))) return 1;
    appInstance = GetModuleHandleW(nullptr);

    auto region = bridge::SharedRegion::attach(launch->regionHandle);
    if (!region) return 1;
    bridge::SharedBlock& block = region->block();
    keepToOurselves({static_cast<unsigned long>(launch->commandHandle),
                     static_cast<unsigned long>(launch->regionHandle), block.request.event,
                     block.reply.event});
    HWND taskWindow = createTaskWindow();
    if (!taskWindow) return 1;
    Win32GuiThread gui(taskWindow);
    bridge::CommandPipe pipe(launch->commandHandle);
    EventForwarder events(pipe, region->block().kept);
    auto slot = std::make_shared<InProcessSlot>(gui, nullptr, &events, launch->sampleRate,
                                                launch->blockSize);

    AudioLoop audio(*region, *slot);
    std::thread([&audio] { audio.run(); }).detach();
    CommandLoop commands(pipe, gui, *slot, region->block().kept);
    gui.idleEditorsOf(&commands);
    std::thread commandThread([&commands] { commands.run(); });
    MSG message = {};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    commandThread.join();
    // The audio thread still waits on the shared block: leave without
    // running destructors under it.
    std::_Exit(0);
}
