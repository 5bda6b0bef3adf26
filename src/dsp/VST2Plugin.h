// One loaded VST 2 plug-in: opening and configuring it, its buffers, its
// MIDI queue, block processing, on/off, state chunks, editor and teardown.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "dsp/AudioBuffer.h"
#include "dsp/VST2Interface.h"
#include "dsp/VST2PluginBase.h"
#include "shell/WindowHandle.h"

namespace Vexa::DSP {

struct StateBlob {
    void* data = nullptr;
    int64_t size = 0;
};

class VST2Plugin : public VST2PluginBase {
public:
    static constexpr int32_t maxChannels = 64;
    static constexpr int32_t midiSlots = 512;

    VST2Plugin() = default;
    ~VST2Plugin() override;

    // Loads, opens, configures and switches the plug-in on. When a guard is
    // given it is held from the moment the record is stored until the plug-in
    // runs, so a caller that takes the same lock never sees it half set up.
    bool load(std::string path, std::mutex* configureGuard = nullptr);
    bool prepareBuffers();
    void setBlockSize(uint32_t frames);
    void setSampleRate(uint32_t rate);
    void suspend();
    void resume();
    void queueMidi(std::vector<int32_t> message);
    // Null when the block was not processed; otherwise the output channels.
    AudioBuffer* process(float* const* inputs);
    void clearEvents();

    int32_t getLatency() const;
    bool getEditorRect(int32_t& width, int32_t& height);
    bool openEditor(WindowHandle parent);
    void closeEditor();
    void sendEditorIdle();
    StateBlob getState();
    void setState(const void* data, uint64_t size);

    std::atomic<WindowHandle> editorWindow{nullptr};
    VST2::AEffect* effect = nullptr;
    AudioBuffer outputBuffers;
    float** outputPointers = nullptr;
    std::atomic<bool> loaded{false};
    std::atomic<bool> suspended{false};
    std::atomic<bool> buffersReady{false};
    AudioBuffer inputBuffers;
    VST2::VstEventList<midiSlots> midiEvents{};

private:
    intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0,
                      void* ptr = nullptr, float opt = 0.0f);
    bool configure();
    float* const* inputListFor(float* const* inputs);
    void spreadMonoOutput(uint32_t frames);

    std::vector<float*> inputPointers;  // for plug-ins with more than two inputs
    // A record refused before effOpen (too many channels) is kept for
    // teardown only: nothing else is sent to a plug-in that was never opened.
    bool opened = false;
};

}  // namespace Vexa::DSP
