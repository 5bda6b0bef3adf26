// The X11 side of the editor windows that the GUI loop needs.
#pragma once

// The display connection's file descriptor, or -1 while there is none.
int editorDisplayFd();
// Handles pending X events: the window manager's close of a frame.
void pumpEditorEvents();
void closeEditorDisplay();
