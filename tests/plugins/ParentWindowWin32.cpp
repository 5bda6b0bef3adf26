#include <windows.h>

#include "ParentWindow.h"

const char* TestPlugin::parentWindowState(void* parent) {
    return IsWindow(static_cast<HWND>(parent)) ? "open" : "gone";
}
