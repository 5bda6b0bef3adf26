// Editor frame and content windows. Implemented once per platform; every
// function runs on the GUI thread.
#pragma once

#include <cstdint>
#include <string>

#include "shell/WindowHandle.h"
#include "shell/WindowObserver.h"

// False when no editor window can be made (no display): the plug-in is then
// not asked about its editor at all, since some build a toolkit on the
// question and end the process when it finds no display.
bool editorWindowsAvailable();

// Creates a hidden frame with the given title (UTF-8) and one content
// child. Returns null (content untouched) when no window can be made, for
// instance when there is no display.
WindowHandle createEditorWindow(const std::string& title, WindowHandle* content,
                                WindowObserver* observer);

// Gives the content window width x height, fits the frame around it and shows it.
void resizeEditorWindow(int32_t width, int32_t height, WindowHandle frame);

// Shows the frame at the size it was created with (no editor size known).
void showEditorWindow(WindowHandle frame);

void raiseEditorWindow(WindowHandle frame);
// The plug-in must have closed its editor first (effEditClose): it keeps
// pointers to the windows it built inside, on every platform.
void destroyEditorWindow(WindowHandle frame);

// After a plug-in module is released: takes back process-wide display hooks
// that the module may have installed and that now point into unmapped code.
void reclaimDisplayHooks();
