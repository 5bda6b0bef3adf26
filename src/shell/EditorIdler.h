// What the GUI loop idles, about 30 times a second on the GUI thread: the
// open editors of whoever owns them.
#pragma once

class EditorIdler {
public:
    virtual bool hasOpenEditor() = 0;
    virtual void idleEditors() = 0;

protected:
    ~EditorIdler() = default;
};
