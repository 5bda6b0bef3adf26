// What the Linux GUI loop idles: the open editors of whoever owns them.
#pragma once

class EditorIdler {
public:
    virtual bool hasOpenEditor() = 0;
    virtual void idleEditors() = 0;

protected:
    ~EditorIdler() = default;
};
