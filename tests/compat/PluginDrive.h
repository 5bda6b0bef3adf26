// Drives one plug-in through the whole protocol as a client would: load,
// audio, MIDI, block-size and sample-rate changes, state, editor, unload.
#pragma once

#include <string>

#include "HostSession.h"
#include "Manifest.h"
#include "PluginCatalog.h"
#include "ProcessStats.h"
#include "Results.h"

namespace compat {

class PluginDrive {
public:
    PluginDrive(HostSession& session, const CatalogEntry& entry, const Expectation& expectation,
                PluginResult& result);

    // Fills the result aspect by aspect. Throws SessionBroken when the
    // program crashed, hung or answered out of order; stage() then names the
    // aspect that was under way.
    void run();
    Aspect stage() const { return current; }

private:
    bool load();
    void checkAudio();
    void checkMidi();
    void checkSettings();
    void checkState();
    // "setState" with the chunk, "resume", a few blocks, "getState".
    bool restoreAndRead(const std::string& chunk, std::string& readBack, std::string& why);
    void checkEditor();
    void checkUnload();

    // The kind's test signal for `count` blocks of `frames`, recorded; notes
    // are played for instruments. False (with why) when a reply was short or
    // not finite, or the output stayed silent where it should sound.
    bool playAndCheck(uint32_t frames, uint32_t rate, int count, std::string& why);
    bool waitUntilReleased(int timeoutMs);
    ProcessStats quickCycle(std::string& why);
    void set(Aspect aspect, Status status, const std::string& detail);

    HostSession& session;
    const CatalogEntry& entry;
    const Expectation& expectation;
    PluginResult& result;
    Aspect current = Aspect::load;
    int latency = 0;
    bool editorExpected = true;
};

}  // namespace compat
