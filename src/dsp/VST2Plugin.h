// One loaded VST 2 plug-in: opening and configuring it, its buffers, its
// MIDI queue, block processing, on/off, state chunks, editor and teardown.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dsp/AudioBuffer.h"
#include "dsp/EditorSizeListener.h"
#include "dsp/ParameterChanges.h"
#include "dsp/ParameterEvents.h"
#include "dsp/PinNames.h"
#include "dsp/Transport.h"
#include "dsp/VST2Interface.h"
#include "dsp/VST2PluginBase.h"

namespace Vexa::DSP {

struct LoadOutcome {
    bool ok = false;
    LoadProblem problem = LoadProblem::none;
    std::string reason;  // why not, for the user; empty when ok
};

struct StateBlob {
    const void* data = nullptr;
    int64_t size = 0;
    bool chunk = true;  // false: the parameter values and the program (ParameterState.h)
};

struct ParameterDescription {
    std::string name;
    std::string label;  // its unit
    std::string display;
    float value = 0.0f;
    bool automatable = false;
    bool isSwitch = false;
    bool isInteger = false;  // then between minimum and maximum
    int32_t minimum = 0;
    int32_t maximum = 0;
    std::string category;
};

class VST2Plugin : public VST2PluginBase {
public:
    static constexpr int32_t maxChannels = 128;
    static constexpr int32_t midiSlots = 512;

    // The settings the plug-in is opened with and answered with when it asks.
    VST2Plugin(uint32_t sampleRate, uint32_t blockSize);
    ~VST2Plugin() override;

    // Loads, opens, configures and switches the plug-in on. When a guard is
    // given it is held from the moment the record is stored until the plug-in
    // runs, so a caller that takes the same lock never sees it half set up.
    // shellId picks one plug-in of a shell module (0: none).
    LoadOutcome load(const std::string& path, std::mutex* configureGuard = nullptr,
                     int32_t shellId = 0);
    bool prepareBuffers();
    void setBlockSize(uint32_t frames);
    void setSampleRate(uint32_t rate);
    void suspend();
    void resume();
    // status, data1, data2 and, when timed, the frame offset in the next
    // block. An offset outside that block plays on its nearest frame: the
    // first for a negative one, the last for one at or past its end.
    void queueMidi(const int32_t* words, std::size_t count);
    // A change of a parameter on a frame of the next block; false when the
    // block has no room for it (ParameterChanges::capacity).
    bool queueParameter(uint32_t frame, int32_t index, float value);
    // Runs frames of the inputs into the outputs, two channels each, in
    // pieces at the queued parameter changes (ParameterChanges). The
    // plug-in runs at most the block size it was configured for (it may be
    // given fewer, never more); outputs past that are silence. It reads and
    // writes the caller's channels where they are aligned as plug-ins may
    // assume, copies of them where not. False, and the outputs untouched,
    // when the block was not processed.
    bool process(const float* const* inputs, float* const* outputs, uint32_t frames) {
        return process(inputs, 2, outputs, 2, frames);
    }
    // The same with the caller's channels: inputs past the plug-in's are
    // not heard, its inputs past the caller's hear silence, outputs past
    // its own are silence.
    bool process(const float* const* inputs, uint32_t inputCount, float* const* outputs,
                 uint32_t outputCount, uint32_t frames);
    // The transport of the next block; a block without one continues the
    // last (the sample position, and while playing the position, advance).
    void setTransport(const Transport& transport);
    // Any thread: what audioMasterGetTime answers.
    const VST2::VstTimeInfo* timeInfo() const { return &time; }
    // What audioMasterGetCurrentProcessLevel answers.
    void setOffline(bool offline) { offlineLevel.store(offline); }
    bool isOffline() const { return offlineLevel.load(); }
    // The host callback: what the plug-in sends (audioMasterProcessEvents).
    // Passed on during a block, with its frame in the block; dropped at
    // any other time, when it has no frame.
    void noteOutgoingEvents(const VST2::VstEvents* events);
    void setOutgoingEventListener(OutgoingEventListener* listener) {
        outgoingListener.store(listener);
    }
    // After audioMasterIOChanged, on the thread that owns the life cycle
    // with blocks kept out: reads the channels and latency again and lays
    // out the buffers for them. False when it now has too many channels.
    bool takeNewLayout();
    void clearEvents();

    int32_t getLatency() const;
    bool getEditorRect(int32_t& width, int32_t& height);
    // parent: the native window (an HWND, an X11 window id) to build the editor in.
    bool openEditor(void* parent);
    void closeEditor();
    void sendEditorIdle();
    // The chunk, when the plug-in keeps one; else its parameter values and
    // program. Valid until the next call.
    StateBlob getState();
    // Either kind of state getState gives.
    void setState(const void* data, uint64_t size);

    // Parameters and programs (VST2PluginParameters.cpp): the thread the
    // plug-in's life cycle runs on, or any thread for setParameter. An index
    // out of range is ignored (reads give empty or 0).
    int32_t parameterCount() const { return opened ? effect->numParams : 0; }
    ParameterDescription describeParameter(int32_t index);
    float parameterValue(int32_t index);
    std::string parameterDisplay(int32_t index);
    // The text value would show, with the old value set back after: the
    // caller keeps blocks out meanwhile. What the plug-in reports meanwhile
    // is not passed on.
    std::string probeDisplay(int32_t index, float value);
    void setParameter(int32_t index, float value);
    int32_t programCount() const { return opened ? effect->numPrograms : 0; }
    // Each input's or output's name as the plug-in gives it; empty when it
    // names none.
    std::vector<PinDescription> pins(bool inputs) {
        return opened ? readPinNames(effect, inputs) : std::vector<PinDescription>{};
    }
    std::vector<std::string> programNames();
    int32_t currentProgram();
    // Between effBeginSetProgram and effEndSetProgram, as plug-ins expect.
    void setProgram(int32_t index);
    void setProgramName(const std::string& name);

    // Told of what the plug-in reports about its parameters; set before the
    // plug-in runs, cleared before the wrapper goes.
    void setParameterListener(ParameterEventListener* listener) { eventListener.store(listener); }
    // The host callback, on the thread the plug-in reports from.
    void noteParameterEvent(const ParameterEvent& event);
    // The plug-in's own name, empty when it gives none.
    std::string effectName();

    uint32_t sampleRate() const { return currentSampleRate.load(); }
    uint32_t blockSize() const { return currentBlockSize.load(); }
    bool isSuspended() const { return suspended.load(); }
    int32_t inputCount() const { return effect ? effect->numInputs : 0; }
    int32_t outputCount() const { return effect ? effect->numOutputs : 0; }
    // What the plug-in hears when it asks audioMasterCurrentId.
    int32_t shellId() const { return selectedShellId; }

    // Told of the plug-in's resize requests, from whatever thread it asks
    // on; set before the editor opens, cleared before the wrapper goes.
    void setSizeListener(EditorSizeListener* listener) { sizeListener.store(listener); }
    EditorSizeListener* editorSizeListener() const { return sizeListener.load(); }

private:
    intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f);
    bool configure();
    float** inputListFor(const float* const* inputs, uint32_t count, uint32_t frames);
    float** outputListFor(float* const* outputs, uint32_t count);
    void deliverOutputs(float* const* outputs, uint32_t count, uint32_t frames, uint32_t requested);
    void advanceTime(uint32_t frames);
    bool buffersFitChannels() const;
    void keepEventsInBlock(uint32_t frames);
    void spreadMonoOutput(float** out, uint32_t frames);
    // One stretch of the block, [start, end), with its MIDI events.
    void processPiece(float** in, float** out, uint32_t start, uint32_t end, uint32_t frames);
    void runPlugin(float** in, float** out, uint32_t frames);
    void handOverBlockEvents();
    std::string text(int32_t opcode, int32_t index);

    std::atomic<ParameterEventListener*> eventListener{nullptr};
    // The thread running probeDisplay, whose echoes are not passed on.
    std::atomic<std::thread::id> probing{};
    ParameterChanges parameterChanges;  // the audio thread's
    BlockEvents blockEvents;            // the audio thread's
    VST2::VstEventList<midiSlots> pieceEvents{};
    // A piece after the first runs in these, since a plug-in may assume its
    // channels aligned and a piece can start on any frame.
    AudioBuffer pieceInputs;
    AudioBuffer pieceOutputs;
    std::vector<float*> pieceInputPointers;
    std::vector<float*> pieceOutputPointers;
    std::vector<uint8_t> parameterState;  // what getState last gave, for a plug-in without chunk
    // The audio thread writes it before each block; plug-ins read it from
    // any thread, as they do of every host.
    VST2::VstTimeInfo time{};
    Transport nextTransport;
    bool transportGiven = false;
    std::atomic<bool> offlineLevel{false};
    std::atomic<OutgoingEventListener*> outgoingListener{nullptr};
    uint32_t pieceStart = 0;  // the audio thread's: where the running piece starts
    uint32_t blockFrames = 0;

    std::atomic<EditorSizeListener*> sizeListener{nullptr};
    VST2::AEffect* effect = nullptr;
    std::atomic<bool> loaded{false};
    std::atomic<bool> suspended{false};
    std::atomic<bool> buffersReady{false};
    AudioBuffer inputBuffers;
    AudioBuffer outputBuffers;           // after the inputs: torn down first
    std::vector<float*> outputPointers;  // what the plug-in writes, at least two
    std::vector<float*> inputPointers;   // what the plug-in reads, at least two
    VST2::VstEventList<midiSlots> midiEvents{};
    // Read by the host callback on whatever thread the plug-in asks from.
    std::atomic<uint32_t> currentSampleRate;
    std::atomic<uint32_t> currentBlockSize;
    std::array<VST2::VstMidiEvent, midiSlots> midiStorage{};  // no allocation per event
    // A record refused before effOpen (too many channels) is kept for
    // teardown only: nothing else is sent to a plug-in that was never opened.
    bool opened = false;
    int32_t selectedShellId = 0;  // set before the entry call, constant after
};

}  // namespace Vexa::DSP
