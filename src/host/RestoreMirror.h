// What a plug-in process last reported and was last given, kept by the
// program so that a relaunch brings the plug-in back as the client left it:
// the same module, settings, state, program, parameter values, on/off and
// editor. Used on the slot's command thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bridge/PluginMessages.h"
#include "bridge/SharedBlock.h"

struct RestoreMirror {
    std::string path;                  // empty: nothing to bring back
    std::optional<int32_t> uniqueId;   // the shell member path names, if any
    std::optional<std::string> state;  // the last blob given or read back
    // Set after the state: the program, then each value changed since.
    // Filled from what a lost process kept (bridge::KeptSettings).
    std::optional<int32_t> program;
    std::vector<std::pair<int32_t, float>> values;
    bridge::Condition condition;
    uint32_t sampleRate = 0;
    uint32_t blockSize = 0;
    bridge::ChannelLayout layout;  // what the process's shared block is laid out for
    bool offline = false;

    // A new plug-in, or none: nothing of the last one is brought back.
    void startOver(std::string newPath, std::optional<int32_t> newId = std::nullopt) {
        path = std::move(newPath);
        uniqueId = newId;
        state.reset();
        forgetSettings();
        condition = {};
    }

    void forgetSettings() {
        program.reset();
        values.clear();
    }
};
