#include <windows.h>

#include "TestPluginVariant.h"

const char* TestPlugin::parentWindowState(void* parent) {
    return IsWindow(static_cast<HWND>(parent)) ? "open" : "gone";
}
