// One loaded VST 2 plug-in: opening and configuring it, its buffers, its
// MIDI queue, block processing, on/off, state chunks, editor and teardown.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "dsp/AudioBuffer.h"
#include "dsp/EditorSizeListener.h"
#include "dsp/VST2Interface.h"
#include "dsp/VST2PluginBase.h"

namespace Vexa::DSP {

struct LoadOutcome {
    bool ok = false;
    LoadProblem problem = LoadProblem::none;
    std::string reason;  // why not, for the user; empty when ok
};

struct StateBlob {
    void* data = nullptr;
    int64_t size = 0;
};

class VST2Plugin : public VST2PluginBase {
public:
    static constexpr int32_t maxChannels = 64;
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
    // Runs frames of the inputs into the outputs, two channels each. The
    // plug-in runs at most the block size it was configured for (it may be
    // given fewer, never more); outputs past that are silence. It reads and
    // writes the caller's channels where they are aligned as plug-ins may
    // assume, copies of them where not. False, and the outputs untouched,
    // when the block was not processed.
    bool process(const float* const* inputs, float* const* outputs, uint32_t frames);
    void clearEvents();

    int32_t getLatency() const;
    bool getEditorRect(int32_t& width, int32_t& height);
    // parent: the native window (an HWND, an X11 window id) to build the editor in.
    bool openEditor(void* parent);
    void closeEditor();
    void sendEditorIdle();
    StateBlob getState();
    void setState(const void* data, uint64_t size);
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
    float** inputListFor(const float* const* inputs, uint32_t frames);
    float** outputListFor(float* const* outputs);
    void deliverOutputs(float* const* outputs, uint32_t frames, uint32_t requested);
    void keepEventsInBlock(uint32_t frames);
    void spreadMonoOutput(uint32_t frames);

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
