// The Linux program under test: started as a child of the runner, its
// editor frames seen on the X server, its plug-in processes in /proc; and a
// second one without a display for the aspects over protocol 2.
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "CompatProgram.h"
#include "LayoutCheck.h"
#include "ParameterCheck.h"
#include "ProgramUnderTest.h"
#include "X11WindowProbe.h"

namespace compat {

namespace {

// Every editor frame, whatever plug-in it is titled after.
const std::string frameTitle = "Corvel VST/Remote - ";

class LinuxProgram : public CompatProgram {
public:
    bool ready(bool fresh) override {
        if (!fresh && program && program->running() && connection->isOpen()) return true;
        if (program && program->running() && connection->isOpen()) {
            connection->sendText("quit");
            program->waitExit(20000);
        }
        connection = std::make_unique<testing_support::WsClient>();
        program = std::make_unique<testing_support::ProgramUnderTest>();
        if (!program->start() || !connection->connect(program->port(), 20000) ||
            !connection->receiveText(20000))
            return false;
        screen.onlyProcess(program->processId());
        return true;
    }

    testing_support::WsClient& client() override { return *connection; }
    bool running() override { return program && program->running(); }

    std::vector<Frame> editorFrames() override {
        std::vector<Frame> frames;
        for (const testing_support::WindowInfo& window : screen.windowsTitled(frameTitle))
            frames.push_back({window.id, window.mapped, window.contentWidth, window.contentHeight,
                              window.contentChildren > 0});
        return frames;
    }

    void requestClose(const Frame& frame) override { screen.requestClose(frame.id); }

    std::vector<std::string> pluginProcesses() override {
        std::vector<std::string> names;
        DIR* proc = opendir("/proc");
        while (dirent* entry = proc ? readdir(proc) : nullptr) {
            const std::string folder = std::string("/proc/") + entry->d_name;
            std::ifstream stat(folder + "/stat");
            std::string line;
            std::getline(stat, line);
            // "PID (NAME) STATE PARENT ...": the name may hold spaces and parentheses.
            const auto close = line.rfind(')');
            if (close == std::string::npos ||
                std::atol(line.c_str() + close + 4) != program->processId())
                continue;
            char target[4096];
            const ssize_t length = readlink((folder + "/exe").c_str(), target, sizeof target - 1);
            const std::string exe =
                length > 0 ? std::string(target, static_cast<std::size_t>(length)) : "";
            names.push_back(exe.substr(exe.rfind('/') + 1));
        }
        if (proc) closedir(proc);
        return names;
    }

    // The parameters on a load as any client makes it, then the layout on a
    // load with all the plug-in's channels. A reply whose fields are not of
    // their documented types fails the aspect under way.
    void checkOverVersion2(const std::string& path, const std::string& kind,
                           const Settings& settings,
                           std::map<std::string, Outcome>& outcome) override {
        outcome["parameters"] = outcome["layout"] = {"fails", "no connection over protocol 2"};
        Version2Connection v2;
        const uint16_t port = headlessPort();
        if (port == 0 || !v2.open(port)) return;
        std::string aspect = "parameters";
        try {
            const nlohmann::json loaded = v2.ask({{"op", "load"}, {"path", path}});
            if (!loaded.value("ok", false)) {
                outcome["parameters"] =
                    outcome["layout"] = {"fails", "load over protocol 2 refused"};
                return;
            }
            outcome[aspect] = checkParameters(v2, loaded.value("parameters", -1));
            aspect = "layout";
            outcome[aspect] =
                checkLayout(v2, {path, kind == "instrument", loaded.value("inputs", 0),
                                 loaded.value("outputs", 0), settings});
            v2.ask({{"op", "unload"}});
        } catch (const nlohmann::json::exception& wrongType) {
            outcome[aspect] = {"fails",
                               std::string("a reply not as documented: ") + wrongType.what()};
            if (aspect == "parameters") outcome["layout"] = {"fails", "not checked"};
        }
    }

private:
    // Without a display, so that the plug-in's second instance opens no
    // editor (an LSP editor takes most of a second on a loaded machine);
    // 0 when it does not start.
    uint16_t headlessPort() {
        if (!headless || !headless->running()) {
            headless = std::make_unique<testing_support::ProgramUnderTest>(
                std::map<std::string, std::string>{{"DISPLAY", ""}});
            if (!headless->start()) return 0;
        }
        return headless->port();
    }

    std::unique_ptr<testing_support::ProgramUnderTest> headless;
    std::unique_ptr<testing_support::ProgramUnderTest> program;
    std::unique_ptr<testing_support::WsClient> connection;
    testing_support::X11WindowProbe screen;
};

}  // namespace

std::unique_ptr<CompatProgram> makeCompatProgram() {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return nullptr;
    return std::make_unique<LinuxProgram>();
}

ModuleSource modulesOf(const std::string& package) {
    ModuleSource source{package, {}};
    const std::string command = "dpkg -L " + package + " | grep -E '/(lx)?vst/.*\\.so$' | sort";
    if (FILE* pipe = popen(command.c_str(), "r")) {
        for (char buffer[4096]; std::fgets(buffer, sizeof buffer, pipe);)
            source.paths.emplace_back(buffer);
        pclose(pipe);
    }
    for (std::string& line : source.paths) line.pop_back();  // the newline
    return source;
}

}  // namespace compat
