#include "shell/win32/Win32ConsentDialog.h"

#include <windows.h>

#include <string>

#include "shell/win32/Win32Module.h"

void Win32ConsentDialog::ask(const std::string& origin, Reply reply) {
    const bool posted = gui.post([origin, reply] {
        const std::wstring question =
            L"Allow " + widen(origin) + L" to use the VST plug-ins on this computer?";
        const int answer = MessageBoxW(nullptr, question.c_str(), L"Corvel VST/Remote",
                                       MB_YESNO | MB_ICONQUESTION | MB_TOPMOST | MB_SETFOREGROUND);
        if (answer == IDYES) {
            reply(Answer::Allow);
        } else if (answer == IDNO) {
            reply(Answer::Deny);
        } else {
            reply(Answer::Unavailable);  // no box could be shown
        }
    });
    if (!posted) reply(Answer::Unavailable);
}
