// Entry point of the Windows plug-in process: one session's plug-in, its
// editor on this (the main) thread, its blocks on an audio thread, its
// commands on a third. The program's job ends it when the program ends.
// Its arguments are those of bridge/LaunchContract.h.
#include <windows.h>

#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <thread>

#include "bridge/CommandPipe.h"
#include "bridge/LaunchContract.h"
#include "bridge/SharedRegion.h"
#include "host/InProcessSlot.h"
#include "pluginhost/AudioLoop.h"
#include "pluginhost/CommandLoop.h"
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
    return CreateWindowExW(0, kTaskWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, appInstance,
                           nullptr);
}

// What we inherited goes no further: a process that a plug-in starts must
// not hold the pipe open after we are gone, or the program would not see
// our end.
void keepToOurselves(std::initializer_list<unsigned long> handles) {
    for (unsigned long handle : handles) SetHandleInformation(ULongToHandle(handle), HANDLE_FLAG_INHERIT, 0);
}

}  // namespace

int main(int argc, char** argv) {
    const auto launch = bridge::parseLaunch(argc, argv);
    if (!launch) return 2;
    // A crashing plug-in ends this process at once, with its exception as
    // the exit code, instead of waiting on a dialog nobody answers.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(endOnCrash);
    // The same for a plug-in's abort(), which in a windowed program would
    // first ask in a message box.
    _set_error_mode(_OUT_TO_STDERR);
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
    auto slot = std::make_shared<InProcessSlot>(gui, nullptr, launch->sampleRate, launch->blockSize);

    AudioLoop audio(block, *slot);
    std::thread([&audio] { audio.run(); }).detach();
    CommandLoop commands(pipe, gui, *slot);
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
