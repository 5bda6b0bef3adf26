// A running program with a client and a display, and a view of the
// program's own top-level windows on it.
#pragma once

#include <cstdlib>
#include <map>
#include <string>

#include "../support/X11WindowProbe.h"
#include "PluginFixture.h"

namespace testing_support {

class EditorFixture : public PluginTest {
protected:
    std::map<std::string, std::string> environment() override { return {}; }  // keeps DISPLAY

    void SetUp() override {
        SKIP_UNLESS_NATIVE();  // the Windows editor windows have checks of their own
        if (!std::getenv("DISPLAY") || !screen.available())
            GTEST_SKIP() << "needs an X server (the test script runs these under Xvfb)";
        PluginTest::SetUp();
        screen.onlyProcess(program->processId());
    }

    X11WindowProbe screen;
};

}  // namespace testing_support
