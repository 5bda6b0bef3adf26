// Told by an editor frame when the user closes it.
#pragma once

#include "shell/WindowHandle.h"

class WindowObserver {
public:
    virtual void onWindowClosed(WindowHandle window) = 0;

protected:
    ~WindowObserver() = default;  // never deleted through this interface
};
