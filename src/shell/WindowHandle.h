// A native window as the core sees it: an HWND on Windows, an X11 window id
// on Linux. Only the platform files look inside.
#pragma once

using WindowHandle = void*;
