#include "dsp/VST2Plugin.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <thread>

#include "dsp/ParameterState.h"

namespace Vexa::DSP {

using namespace VST2;

namespace {

bool channelCountFits(int32_t count) {
    return static_cast<uint32_t>(count) <= VST2Plugin::maxChannels;
}

// What our own channels get from new[], and what a plug-in's vector loads
// may assume of every channel it is given.
constexpr std::uintptr_t channelAlignment = 16;

bool isChannelAligned(const float* channel) {
    return reinterpret_cast<std::uintptr_t>(channel) % channelAlignment == 0;
}

// The wrapper whose block this thread is running: what the plug-in reports
// from here belongs to that block.
thread_local const VST2Plugin* runningBlock = nullptr;

struct RunningBlock {
    explicit RunningBlock(const VST2Plugin* plugin) { runningBlock = plugin; }
    ~RunningBlock() { runningBlock = nullptr; }
    RunningBlock(const RunningBlock&) = delete;
    RunningBlock& operator=(const RunningBlock&) = delete;
};

}  // namespace

VST2Plugin::VST2Plugin(uint32_t sampleRate, uint32_t blockSize)
    : currentSampleRate(sampleRate), currentBlockSize(blockSize) {
    // Stopped at 120 BPM in 4/4 until a block says otherwise; a plug-in may
    // ask before its first block.
    setTransport(Transport{});
    advanceTime(0);
}

VST2Plugin::~VST2Plugin() {
    if (effect) {
        loaded.exchange(false);
        buffersReady.exchange(false);
        dispatch(effMainsChanged, 0, 0);
        dispatch(effClose);
        effect = nullptr;
    }
    // Events can pile up without a plug-in too (after a failed load).
    clearEvents();
    // Members go next (output buffers, then input buffers, by reverse
    // declaration order); the base class releases the module last, after
    // every call.
}

intptr_t VST2Plugin::dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

LoadOutcome VST2Plugin::load(const std::string& path, std::mutex* configureGuard, int32_t shellId) {
    loaded.exchange(false);
    selectedShellId = shellId;
    const Entry entry = loadModule(path, shellId);
    if (!entry.effect) return {false, entry.problem, entry.reason};
    if (entry.effect->magic != kEffectMagic)
        return {false, LoadProblem::notAPlugin,
                "not a VST 2 plug-in: its entry point returned something else"};
    std::unique_lock<std::mutex> lock;
    if (configureGuard) lock = std::unique_lock<std::mutex>(*configureGuard);
    effect = entry.effect;
    if (!configure())
        return {false, LoadProblem::wouldNotOpen,
                "the plug-in has more than " + std::to_string(maxChannels) + " inputs or outputs"};
    return {true, LoadProblem::none, {}};
}

bool VST2Plugin::configure() {
    effect->resvd1 = reinterpret_cast<intptr_t>(this);
    if (!prepareBuffers()) return false;
    dispatch(effOpen);
    opened = true;
    dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(currentSampleRate.load()));
    dispatch(effSetBlockSize, 0, currentBlockSize.load());
    VstSpeakerArrangement stereo{};
    stereo.type = kSpeakerArrStereo;
    stereo.numChannels = 2;
    dispatch(effSetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&stereo), &stereo);
    dispatch(effMainsChanged, 0, 1);
    loaded.exchange(true);
    suspended.exchange(false);
    return true;
}

bool VST2Plugin::prepareBuffers() {
    buffersReady.exchange(false);
    if (!channelCountFits(effect->numInputs) || !channelCountFits(effect->numOutputs)) return false;
    const int32_t inputs = std::max(effect->numInputs, 2);
    const int32_t outputs = std::max(effect->numOutputs, 2);
    const uint32_t frames = currentBlockSize.load();
    inputBuffers.resize(frames, inputs);
    outputBuffers.resize(frames, outputs);
    outputPointers.resize(static_cast<std::size_t>(outputs));
    for (int32_t i = 0; i < outputs; ++i) outputPointers[i] = outputBuffers.getChannel(i);
    inputPointers.assign(inputs, nullptr);
    pieceInputs.resize(frames, inputs);
    pieceOutputs.resize(frames, outputs);
    pieceInputPointers.resize(static_cast<std::size_t>(inputs));
    pieceOutputPointers.resize(static_cast<std::size_t>(outputs));
    for (int32_t i = 0; i < inputs; ++i) pieceInputPointers[i] = pieceInputs.getChannel(i);
    for (int32_t i = 0; i < outputs; ++i) pieceOutputPointers[i] = pieceOutputs.getChannel(i);
    buffersReady.exchange(true);
    return true;
}

void VST2Plugin::setBlockSize(uint32_t frames) {
    currentBlockSize.store(frames);
    if (!opened) return;
    prepareBuffers();
    dispatch(effSetBlockSize, 0, frames);
}

void VST2Plugin::setSampleRate(uint32_t rate) {
    currentSampleRate.store(rate);
    if (!opened) return;
    dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(rate));
}

void VST2Plugin::suspend() {
    if (!opened || suspended.load()) return;
    suspended.exchange(true);
    dispatch(effMainsChanged, 0, 0);
}

void VST2Plugin::resume() {
    if (!opened || !suspended.load()) return;
    dispatch(effMainsChanged, 0, 1);
    suspended.exchange(false);
}

void VST2Plugin::queueMidi(const int32_t* words, std::size_t count) {
    if (count < 3) return;
    if (midiEvents.numEvents >= midiSlots) return;  // full: newer events are dropped
    VstMidiEvent& event = midiStorage[static_cast<std::size_t>(midiEvents.numEvents)];
    event = VstMidiEvent{};
    event.type = kVstMidiType;
    event.byteSize = sizeof(VstMidiEvent);
    if (count == 4) {
        event.deltaFrames = words[3];
    } else {
        event.flags = kVstMidiEventIsRealtime;
    }
    for (int i = 0; i < 3; ++i) event.midiData[i] = static_cast<char>(words[i] & 0xFF);
    midiEvents.events[midiEvents.numEvents++] = reinterpret_cast<VstEvent*>(&event);
}

float** VST2Plugin::inputListFor(const float* const* inputs, uint32_t count, uint32_t frames) {
    for (std::size_t c = 0; c < inputPointers.size(); ++c) {
        float* own = inputBuffers.getChannel(static_cast<uint32_t>(c));
        if (c >= count) {
            // Silence, even if the plug-in scribbled on it last block.
            inputPointers[c] = own;
            std::fill_n(own, inputBuffers.frames, 0.0f);
        } else if (isChannelAligned(inputs[c])) {
            // The interface passes inputs as float**; a plug-in that writes
            // its inputs scribbles only on a block already taken in.
            inputPointers[c] = const_cast<float*>(inputs[c]);
        } else {
            inputPointers[c] = own;
            std::memcpy(own, inputs[c], sizeof(float) * frames);
        }
    }
    return inputPointers.data();
}

float** VST2Plugin::outputListFor(float* const* outputs, uint32_t count) {
    for (std::size_t c = 0; c < outputPointers.size(); ++c) {
        outputPointers[c] = c < count && isChannelAligned(outputs[c])
                                ? outputs[c]
                                : outputBuffers.getChannel(static_cast<uint32_t>(c));
    }
    return outputPointers.data();
}

void VST2Plugin::deliverOutputs(float* const* outputs, uint32_t count, uint32_t frames,
                                uint32_t requested) {
    for (std::size_t c = 0; c < count; ++c) {
        if (c >= outputPointers.size()) {
            std::fill_n(outputs[c], requested, 0.0f);
            continue;
        }
        if (outputPointers[c] != outputs[c])
            std::memcpy(outputs[c], outputPointers[c], sizeof(float) * frames);
        std::fill(outputs[c] + frames, outputs[c] + requested, 0.0f);
    }
}

void VST2Plugin::setTransport(const Transport& transport) {
    nextTransport = transport;
    transportGiven = true;
}

void VST2Plugin::advanceTime(uint32_t frames) {
    if (transportGiven) {
        transportGiven = false;
        time.samplePos = nextTransport.samplePosition;
        time.ppqPos = nextTransport.position;
        time.tempo = nextTransport.tempo > 0.0 ? nextTransport.tempo : 120.0;
        time.barStartPos = nextTransport.barStart;
        time.cycleStartPos = nextTransport.cycleStart;
        time.cycleEndPos = nextTransport.cycleEnd;
        time.timeSigNumerator = nextTransport.numerator > 0 ? nextTransport.numerator : 4;
        time.timeSigDenominator = nextTransport.denominator > 0 ? nextTransport.denominator : 4;
        time.flags = kVstPpqPosValid | kVstTempoValid | kVstBarsValid | kVstCyclePosValid |
                     kVstTimeSigValid | (nextTransport.playing ? kVstTransportPlaying : 0) |
                     (nextTransport.recording ? kVstTransportRecording : 0) |
                     (nextTransport.cycle ? kVstTransportCycleActive : 0);
    } else if (frames > 0) {
        const double rate = currentSampleRate.load();
        time.samplePos += frames;
        if (time.flags & kVstTransportPlaying) time.ppqPos += frames / rate * time.tempo / 60.0;
    }
    time.sampleRate = currentSampleRate.load();
}

void VST2Plugin::noteOutgoingEvents(const VstEvents* events) {
    OutgoingEventListener* listener = outgoingListener.load();
    if (runningBlock != this || !listener || !events) return;
    const int32_t last = blockFrames > 0 ? static_cast<int32_t>(blockFrames - 1) : 0;
    for (int32_t i = 0; i < events->numEvents; ++i) {
        const VstEvent* event = events->events[i];
        if (!event) continue;
        const auto frame = static_cast<uint32_t>(
            std::clamp(static_cast<int32_t>(pieceStart) + event->deltaFrames, 0, last));
        if (event->type == kVstMidiType) {
            const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
            listener->onOutgoingEvent(frame, reinterpret_cast<const uint8_t*>(midi->midiData), 3);
        } else if (event->type == kVstSysExType) {
            const auto* sysex = reinterpret_cast<const VstMidiSysexEvent*>(event);
            if (sysex->sysexDump && sysex->dumpBytes > 0)
                listener->onOutgoingEvent(frame, reinterpret_cast<const uint8_t*>(sysex->sysexDump),
                                          static_cast<uint32_t>(sysex->dumpBytes));
        }
    }
}

bool VST2Plugin::buffersFitChannels() const {
    // A plug-in that grew its channels (audioMasterIOChanged) would write past
    // the buffers until they are laid out again; until then it is not run.
    return static_cast<std::size_t>(std::max(effect->numInputs, 2)) <= inputPointers.size() &&
           static_cast<std::size_t>(std::max(effect->numOutputs, 2)) <= outputPointers.size();
}

bool VST2Plugin::takeNewLayout() {
    if (!opened) return false;
    return prepareBuffers();
}

bool VST2Plugin::queueParameter(uint32_t frame, int32_t index, float value) {
    return parameterChanges.add(frame, index, value);
}

bool VST2Plugin::process(const float* const* inputs, uint32_t inputCount, float* const* outputs,
                         uint32_t outputCount, uint32_t requested) {
    if (!effect || !loaded.load() || !buffersReady.load() || suspended.load() ||
        !buffersFitChannels()) {
        parameterChanges.clear();
        return false;
    }
    const RunningBlock running(this);
    // Never past the buffers laid out for the configured size, whatever the
    // caller believes the block size to be.
    const uint32_t frames = std::min(requested, outputBuffers.frames);
    blockFrames = frames;
    advanceTime(0);
    if (midiEvents.numEvents > 0) keepEventsInBlock(frames);
    float** in = inputListFor(inputs, inputCount, frames);
    float** out = outputListFor(outputs, outputCount);
    parameterChanges.arrange();
    std::size_t next = 0;
    for (uint32_t start = 0; start < frames;) {
        uint32_t end = frames;
        for (; next < parameterChanges.size(); ++next) {
            const ParameterChanges::Change& change = parameterChanges[next];
            const uint32_t at = ParameterChanges::landing(change.frame, start, frames);
            if (at > start) {
                end = at;
                break;
            }
            if (change.index >= 0 && change.index < effect->numParams)
                effect->setParameter(effect, change.index, change.value);
        }
        processPiece(in, out, start, end, frames);
        start = end;
    }
    parameterChanges.clear();
    clearEvents();
    deliverOutputs(outputs, outputCount, frames, requested);
    handOverBlockEvents();
    advanceTime(frames);
    return true;
}

void VST2Plugin::processPiece(float** in, float** out, uint32_t start, uint32_t end,
                              uint32_t frames) {
    pieceStart = start;
    if (start == 0 && end == frames) {
        if (midiEvents.numEvents > 0) dispatch(effProcessEvents, 0, 0, &midiEvents);
        runPlugin(in, out, frames);
        return;
    }
    // The piece's MIDI events, as offsets into the piece.
    pieceEvents.numEvents = 0;
    for (int32_t i = 0; i < midiEvents.numEvents; ++i) {
        VstMidiEvent& event = midiStorage[static_cast<std::size_t>(i)];
        const auto offset = static_cast<uint32_t>(event.deltaFrames);
        if (offset < start || (offset >= end && end < frames)) continue;
        // Each event falls in one piece, so shifting it in place is safe.
        event.deltaFrames = static_cast<int32_t>(offset - start);
        pieceEvents.events[pieceEvents.numEvents++] = reinterpret_cast<VstEvent*>(&event);
    }
    if (pieceEvents.numEvents > 0) dispatch(effProcessEvents, 0, 0, &pieceEvents);
    const uint32_t length = end - start;
    if (start == 0) {
        runPlugin(in, out, length);
        return;
    }
    for (std::size_t c = 0; c < pieceInputPointers.size(); ++c)
        std::memcpy(pieceInputPointers[c], in[c] + start, sizeof(float) * length);
    runPlugin(pieceInputPointers.data(), pieceOutputPointers.data(), length);
    for (std::size_t c = 0; c < pieceOutputPointers.size(); ++c)
        std::memcpy(out[c] + start, pieceOutputPointers[c], sizeof(float) * length);
}

void VST2Plugin::runPlugin(float** in, float** out, uint32_t frames) {
    if (effect->flags & effFlagsCanReplacing) {
        // A plug-in without outputs never writes them; start from silence or
        // the input mixed in below adds up block by block.
        if (effect->numOutputs <= 0) {
            for (int c = 0; c < 2; ++c) std::fill_n(out[c], frames, 0.0f);
        }
        effect->processReplacing(effect, in, out, static_cast<int32_t>(frames));
        spreadMonoOutput(out, frames);
        if (effect->numInputs == 0 || (effect->flags & effFlagsIsSynth)) {
            for (int c = 0; c < 2; ++c) {
                const float* input = in[c];
                for (uint32_t i = 0; i < frames; ++i) out[c][i] += input[i];
            }
        }
    } else {
        // The accumulating entry adds to what is there, so start from silence.
        const std::size_t channels = std::max(effect->numOutputs, 2);
        for (std::size_t c = 0; c < channels; ++c) std::fill_n(out[c], frames, 0.0f);
        effect->process(effect, in, out, static_cast<int32_t>(frames));
        spreadMonoOutput(out, frames);
    }
}

void VST2Plugin::noteParameterEvent(const ParameterEvent& event) {
    if (runningBlock == this) {
        blockEvents.add(event);
        return;
    }
    if (probing.load() == std::this_thread::get_id()) return;  // the display probe's own echo
    if (ParameterEventListener* listener = eventListener.load()) listener->onParameterEvent(event);
}

void VST2Plugin::handOverBlockEvents() {
    if (blockEvents.size() == 0) return;
    ParameterEventListener* listener = eventListener.load();
    blockEvents.dropFirst(listener ? listener->onBlockEvents(blockEvents.data(), blockEvents.size())
                                   : blockEvents.size());
}

void VST2Plugin::keepEventsInBlock(uint32_t frames) {
    // Plug-ins index their block with the offset: one outside it would read
    // or write past their buffers. The last frame rather than none, so a
    // late note-off still ends its note.
    const int32_t last = frames > 0 ? static_cast<int32_t>(frames - 1) : 0;
    for (int32_t i = 0; i < midiEvents.numEvents; ++i) {
        int32_t& offset = midiStorage[static_cast<std::size_t>(i)].deltaFrames;
        offset = std::clamp(offset, 0, last);
    }
}

void VST2Plugin::spreadMonoOutput(float** out, uint32_t frames) {
    // One output is a mono source: users expect to hear it on both sides.
    if (effect->numOutputs == 1) std::copy_n(out[0], frames, out[1]);
}

void VST2Plugin::clearEvents() {
    midiEvents.numEvents = 0;
}

int32_t VST2Plugin::getLatency() const {
    return effect ? effect->initialDelay : 0;
}

bool VST2Plugin::getEditorRect(int32_t& width, int32_t& height) {
    if (!opened) return false;
    ERect* rect = nullptr;
    dispatch(effEditGetRect, 0, 0, &rect);
    if (!rect) return false;
    width = rect->right - rect->left;
    height = rect->bottom - rect->top;
    return true;
}

bool VST2Plugin::openEditor(void* parent) {
    if (!opened) return false;
    dispatch(effEditOpen, 0, 0, parent);
    return true;
}

void VST2Plugin::closeEditor() {
    if (opened) dispatch(effEditClose);
}

void VST2Plugin::sendEditorIdle() {
    if (opened) dispatch(effEditIdle);
}

std::string VST2Plugin::effectName() {
    if (!opened) return {};
    // Names are at most 32 bytes; some plug-ins write a little past that.
    char name[128] = {};
    dispatch(effGetEffectName, 0, 0, name);
    name[sizeof name - 1] = '\0';
    return name;
}

StateBlob VST2Plugin::getState() {
    StateBlob blob;
    if (!opened) return blob;
    if (effect->flags & effFlagsProgramChunks) {
        void* data = nullptr;
        blob.size = dispatch(effGetChunk, 1, 0, &data);
        blob.data = data;
        return blob;
    }
    std::vector<float> values(static_cast<std::size_t>(std::max(effect->numParams, 0)));
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = effect->getParameter(effect, static_cast<int32_t>(i));
    parameterState = ParameterState::encode(currentProgram(), values);
    blob.data = parameterState.data();
    blob.size = static_cast<int64_t>(parameterState.size());
    blob.chunk = false;
    return blob;
}

void VST2Plugin::setState(const void* data, uint64_t size) {
    if (!opened) return;
    int32_t program = 0;
    std::vector<float> values;
    if (ParameterState::decode(data, static_cast<std::size_t>(size), program, values)) {
        if (program >= 0 && program < effect->numPrograms) setProgram(program);
        const std::size_t count =
            std::min(values.size(), static_cast<std::size_t>(effect->numParams));
        for (std::size_t i = 0; i < count; ++i)
            effect->setParameter(effect, static_cast<int32_t>(i),
                                 std::clamp(values[i], 0.0f, 1.0f));
        return;
    }
    if (!(effect->flags & effFlagsProgramChunks)) return;
    if (!suspended.load()) {
        suspended.exchange(true);
        dispatch(effMainsChanged, 0, 0);
    }
    dispatch(effSetChunk, 1, static_cast<intptr_t>(size), const_cast<void*>(data));
}

}  // namespace Vexa::DSP
