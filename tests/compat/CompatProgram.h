// The program under test as the compatibility runner drives it, per
// platform (linux/, win32/): started afresh when asked or when gone, its
// client, and what a user sees of it beside the WebSocket.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "WsClient.h"

namespace compat {

// An editor frame of the program or of one of its plug-in processes.
struct Frame {
    uintptr_t id = 0;
    bool shown = false;
    int contentWidth = 0;  // where the plug-in draws
    int contentHeight = 0;
    bool pluginDrew = false;  // the plug-in made a window inside the content
};

struct Outcome {
    std::string status = "none";  // ok, fails or none
    std::string detail;
};

// Parameters set before the layout aspect plays, each a name pattern and a
// value: a side-chain that the plug-in ignores until it is switched on.
using Settings = std::vector<std::pair<std::string, double>>;

class CompatProgram {
public:
    virtual ~CompatProgram() = default;
    // A running program whose client has taken the banner; starts one
    // afresh when asked or when the last one is gone.
    virtual bool ready(bool fresh) = 0;
    virtual testing_support::WsClient& client() = 0;
    virtual bool running() = 0;
    // Its top-level frames titled "Corvel VST/Remote - ...".
    virtual std::vector<Frame> editorFrames() = 0;
    // What the frame's close box does.
    virtual void requestClose(const Frame& frame) = 0;
    // The executable file names of its child processes still there: its
    // plug-in processes.
    virtual std::vector<std::string> pluginProcesses() = 0;
    // The aspects over protocol 2 ("parameters", "layout") of a plug-in that
    // loaded; left as they are where the platform's suite does not check
    // them (on Windows: Linux's checks the same code).
    virtual void checkOverVersion2(const std::string& /*path*/, const std::string& /*kind*/,
                                   const Settings& /*settings*/,
                                   std::map<std::string, Outcome>& /*outcome*/) {}
};

std::unique_ptr<CompatProgram> makeCompatProgram();

struct ModuleSource {
    std::string label;  // the results' first column
    std::vector<std::string> paths;
};

// The plug-in modules of one runner argument: a Debian package on Linux,
// LABEL=FOLDER on Windows.
ModuleSource modulesOf(const std::string& argument);

}  // namespace compat
