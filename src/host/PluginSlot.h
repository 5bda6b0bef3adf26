// One session's plug-in, as the session sees it. Two placements implement
// it: in the program's own process, or in a plug-in process of its own.
// Outcomes of queued work reach the session's SlotListener.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bridge/PluginMessages.h"
#include "bridge/SharedBlock.h"
#include "dsp/Transport.h"

class PluginSlot {
public:
    // What became of a block; all but processed leave outputs untouched.
    enum class Block {
        noPlugin,
        notProcessed,  // malformed, or no reason known
        processed,
        bypassed,
        loading,     // the plug-in is not yet ready
        recovering,  // its process was lost and is being brought back
    };

    virtual ~PluginSlot() = default;

    // The session's worker thread. Queued: they return at once; a load's
    // outcome reaches the listener. uniqueId picks one plug-in of a shell
    // module, by the id its catalogue entry lists.
    virtual void requestLoad(std::string path, std::optional<int32_t> uniqueId) = 0;
    virtual void requestUnload() = 0;
    virtual void requestEditor() = 0;
    // The session's worker thread: they return once done, so the session's
    // replies keep the order of the messages. The state reaches the
    // listener before requestState returns (nothing without a plug-in).
    virtual void requestState() = 0;
    // As requestUnload, once the plug-in is gone.
    virtual void unloadAndWait() = 0;
    virtual void requestRestore(const uint8_t* data, std::size_t size) = 0;
    virtual void setBlockSize(uint32_t frames) = 0;
    virtual void setSampleRate(uint32_t rate) = 0;
    // The channels process takes and gives from now on (valid()). A plug-in
    // in a process of its own laid out for other channels is brought over
    // to a new one as it was, as after a crash but unannounced.
    virtual void setLayout(const bridge::ChannelLayout& layout) = 0;
    // Offline rendering: the plug-in hears that it is not in real time, and
    // a block may take up to 30 s.
    virtual void setOffline(bool offline) = 0;
    virtual void suspend() = 0;
    virtual void resume() = 0;
    virtual void queueMidi(const int32_t* words, std::size_t count) = 0;
    // A parameter change on a frame of the next block (dropped past
    // bridge::maxParameterChanges in one block, or without a plug-in).
    virtual void queueParameter(uint32_t frame, int32_t index, float value) = 0;
    // The next block's transport.
    virtual void queueTransport(const Vexa::DSP::Transport& transport) = 0;
    // Parameters and programs; they return once done. Without a plug-in,
    // or for an index out of range: empty, false.
    virtual std::vector<bridge::ParameterInfo> parameters() = 0;
    // The text value would show; the plug-in is left, and heard, as it was.
    virtual std::optional<std::string> parameterDisplay(int32_t index, float value) = 0;
    virtual bool setParameter(int32_t index, float value) = 0;
    virtual std::optional<bridge::ProgramsResult> programs() = 0;
    virtual bool setProgram(int32_t index) = 0;
    virtual bool setProgramName(const std::string& name) = 0;
    virtual bool hasPlugin() = 0;
    // Runs one block of frames frames (at most bridge::maxFrames) into
    // outputs, as many channels each way as the layout says. The plug-in
    // runs at most the block size it was configured with; whatever it did
    // not produce is silence, so a size that the two sides disagree on can
    // never reach past a buffer. The inputs are only read, wherever they
    // lie: the caller need not align them.
    virtual Block process(const float* const* inputs, float* const* outputs, uint32_t frames) = 0;
    // What the plug-in sent during the last block process ran; valid until
    // the next.
    virtual const bridge::MidiOut& midiOut() const = 0;

    // GUI thread: the program's editor idle calls.
    virtual bool hasOpenEditor() const = 0;
    virtual void idleEditor() = 0;
    virtual void closeEditor() = 0;
    // The session's end: on the GUI thread where unloadsOnGuiThread says
    // so, on any one thread otherwise.
    virtual bool unloadsOnGuiThread() const = 0;
    virtual void unload() = 0;
    // Any thread: the program is ending, so an unload running or to come
    // gives the plug-in less time before it is cut short.
    virtual void hurry() {}
};
