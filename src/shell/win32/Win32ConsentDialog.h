// The Windows consent dialog: a Yes/No message box, topmost and in the
// foreground. Its modal loop keeps serving the GUI thread's other messages.
#pragma once

#include "shell/GuiThread.h"
#include "trust/ConsentPrompt.h"

class Win32ConsentDialog final : public ConsentPrompt {
public:
    explicit Win32ConsentDialog(GuiThread& gui) : gui(gui) {}

    void ask(const std::string& origin, Reply reply) override;

private:
    GuiThread& gui;
};
