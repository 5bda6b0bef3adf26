// A VST 2 test double. This body is compiled once; each module's entry file
// (TestPluginEntry.cpp) sets its variant from the table in CMakeLists.txt.
// Each variant appends one line per host call (and per host answer it asked
// for) to the file named by CORVEL_TEST_PLUGIN_LOG, so tests can check what a
// host did to it.
//
// Keep it portable: it also builds as a Windows DLL with mingw-w64.

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "TestPluginVariant.h"

using namespace Vexa::DSP::VST2;
using namespace TestPlugin;

namespace {

// ---- log -----------------------------------------------------------------

// Read at module load and at every entry call; empty means "log nothing",
// which keeps the per-block cost of an unlogged plug-in to one byte compare.
char logPath[4096];
std::mutex logMutex;

void logLine(const char* format, ...) {
    if (logPath[0] == '\0') return;
    char line[1024];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (length < 0) return;
    if (length > static_cast<int>(sizeof line) - 2) length = static_cast<int>(sizeof line) - 2;
    line[length] = '\n';
    // One write per line, opened for append each time: lines from two threads
    // never interleave and a test can read the file at any moment. Waited on
    // only so long: a Windows process that exits (a plug-in's abort) stops its
    // other threads where they are, maybe holding the lock, and then still
    // logs the module's release; 30 idle lines a second made that a hang.
    // (try_lock rather than a timed lock, which the thread sanitizer cannot
    // follow and reports as an unlock of an unlocked mutex.)
    std::unique_lock<std::mutex> lock(logMutex, std::try_to_lock);
    for (int waited = 0; !lock.owns_lock() && waited < 200; ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        lock.try_lock();
    }
    if (FILE* file = std::fopen(logPath, "ab")) {
        std::fwrite(line, 1, static_cast<std::size_t>(length) + 1, file);
        std::fclose(file);
    }
}

void readLogPath() {
    const char* path = std::getenv("CORVEL_TEST_PLUGIN_LOG");
    if (!path) path = "";
    std::snprintf(logPath, sizeof logPath, "%s", path);
}

struct Plugin;
void deleteStrayRecord();

constexpr float faultTrigger = -999.0f;

// Not checked by the undefined-behaviour sanitizer: the null write must
// reach the hardware and end the process with its signal.
__attribute__((no_sanitize_undefined)) void misbehave(const char* where) {
    logLine("fault in %s", where);
    switch (variant.fault) {
        case Fault::NullWrite:
            // NOLINTNEXTLINE(clang-analyzer-core.NullDereference): the fault is the point
            *static_cast<volatile int*>(nullptr) = 1;
            break;
        case Fault::Abort:
            std::abort();
        case Fault::Exit:
            std::exit(3);
        case Fault::Hang:
            break;
    }
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

// Runs when the module is really released (dlclose/FreeLibrary), not merely
// when the host forgets it. The path is also read at load, so a module whose
// entry point is never called still reports its release.
struct UnloadMarker {
    UnloadMarker() { readLogPath(); }
    ~UnloadMarker() {
        deleteStrayRecord();
        logLine("unloaded kind=%s", variant.kind);
    }
} unloadMarker;

uint32_t fnv1a(const unsigned char* bytes, std::size_t size) {
    uint32_t hash = 0x811c9dc5u;
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= bytes[i];
        hash *= 0x01000193u;
    }
    return hash;
}

// The state a chunks variant starts with: bytes no other state shares.
std::vector<unsigned char> initialBlob() {
    std::vector<unsigned char> blob(1000);
    for (std::size_t i = 0; i < blob.size(); ++i)
        blob[i] = static_cast<unsigned char>((i * 7 + 3) & 0xFF);
    return blob;
}

// ---- instance ----------------------------------------------------------------

constexpr int kMaxPendingEvents = 2048;

struct PendingEvent {
    int32_t delta;
    unsigned char status, data1, data2;
};

struct Plugin {
    AEffect effect{};
    HostCallback host = nullptr;
    std::vector<unsigned char> chunk;
    // Synth: velocity of every held note (0 = not held), and the events of
    // the coming block in arrival order.
    unsigned char held[128] = {};
    PendingEvent pending[kMaxPendingEvents];
    int pendingCount = 0;
    std::thread resizer;
    ERect rect{};
    // The editor's size: what it last asked the host for, as real editors
    // report after a resize.
    std::atomic<int32_t> editorWidth{400};
    std::atomic<int32_t> editorHeight{300};
    void* editorParent = nullptr;  // given at effEditOpen
    int32_t shellId = 0;           // a shell's member: its id; 0 for the shell itself
    int listed = 0;                // the shell's members listed so far
};

// A record the host rejects never sees effClose; the module frees it on its
// way out so leak checkers stay quiet.
Plugin* strayRecord = nullptr;

void deleteStrayRecord() {
    delete strayRecord;
    strayRecord = nullptr;
}

Plugin* self(AEffect* effect) {
    return static_cast<Plugin*>(effect->object);
}

intptr_t askHost(Plugin* plugin, int32_t opcode, int32_t index = 0, intptr_t value = 0,
                 void* ptr = nullptr) {
    return plugin->host(&plugin->effect, opcode, index, value, ptr, 0.0f);
}

void logHostAnswers(Plugin* plugin) {
    logLine("hostSampleRate %lld",
            static_cast<long long>(askHost(plugin, audioMasterGetSampleRate)));
    logLine("hostBlockSize %lld", static_cast<long long>(askHost(plugin, audioMasterGetBlockSize)));
    char sizeWindow[] = "sizeWindow", wrongCase[] = "SizeWindow", longer[] = "sizeWindowX";
    logLine("canDo sizeWindow=%d SizeWindow=%d sizeWindowX=%d null=%d time=%d",
            static_cast<int>(askHost(plugin, audioMasterCanDo, 0, 0, sizeWindow)),
            static_cast<int>(askHost(plugin, audioMasterCanDo, 0, 0, wrongCase)),
            static_cast<int>(askHost(plugin, audioMasterCanDo, 0, 0, longer)),
            static_cast<int>(askHost(plugin, audioMasterCanDo, 0, 0, nullptr)),
            askHost(plugin, audioMasterGetTime) != 0 ? 1 : 0);
}

void askResize(Plugin* plugin, int32_t width, int32_t height, const char* from) {
    plugin->editorWidth.store(width);
    plugin->editorHeight.store(height);
    logLine("sizeWindow %dx%d from=%s answer=%lld", width, height, from,
            static_cast<long long>(askHost(plugin, audioMasterSizeWindow, width, height)));
}

void joinResizer(Plugin* plugin) {
    if (plugin->resizer.joinable()) plugin->resizer.join();
}

void logEvents(Plugin* plugin, const VstEvents* events) {
    logLine("effProcessEvents count=%d reserved=%lld", events->numEvents,
            static_cast<long long>(events->reserved));
    for (int32_t i = 0; i < events->numEvents; ++i) {
        const auto* midi = reinterpret_cast<const VstMidiEvent*>(events->events[i]);
        const auto status = static_cast<unsigned char>(midi->midiData[0]);
        const auto data1 = static_cast<unsigned char>(midi->midiData[1]);
        const auto data2 = static_cast<unsigned char>(midi->midiData[2]);
        const bool zeroed = midi->midiData[3] == 0 && midi->noteLength == 0 &&
                            midi->noteOffset == 0 && midi->detune == 0 &&
                            midi->noteOffVelocity == 0 && midi->reserved1 == 0 &&
                            midi->reserved2 == 0;
        logLine("event status=%u data1=%u data2=%u delta=%d flags=%d type=%d size=%d zeroed=%d",
                status, data1, data2, midi->deltaFrames, midi->flags, midi->type, midi->byteSize,
                zeroed ? 1 : 0);
        if (plugin->pendingCount < kMaxPendingEvents)
            plugin->pending[plugin->pendingCount++] = {midi->deltaFrames, status, data1, data2};
        // Controller 20 asks for a resize from a thread of the plug-in's own,
        // as editors driven by background work do.
        if (variant.editor == Editor::SizeRequest && (status & 0xF0) == 0xB0 && data1 == 20) {
            joinResizer(plugin);
            const int32_t amount = data2;
            plugin->resizer = std::thread(
                [plugin, amount] { askResize(plugin, amount * 10, amount * 5, "thread"); });
        }
    }
}

intptr_t dispatcher(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                    float opt) {
    Plugin* plugin = self(effect);
    switch (opcode) {
        case effGetPlugCategory:  // a shell's members are effects; the others leave it unknown
            if (!variant.shell) return 0;
            return plugin->shellId == 0 ? kPlugCategShell : kPlugCategEffect;
        case effShellGetNextPlugin: {
            // Named by the listing only, as the members of real shells often are.
            static const char* const names[] = {"Shell Member A", "Shell Member B"};
            if (!variant.shell || plugin->shellId != 0 || plugin->listed == 2) return 0;
            std::strcpy(static_cast<char*>(ptr), names[plugin->listed]);
            return shellMembers[plugin->listed++];
        }
        case effGetEffectName:  // the others leave the host to name them
            if (variant.editor != Editor::SizeRequest) return 0;
            std::strcpy(static_cast<char*>(ptr), "Resizing Editor");
            return 1;
        case effOpen:
            logLine("effOpen");
            if (variant.faultAt == FaultAt::InOpen) misbehave("effOpen");
            logHostAnswers(plugin);
            return 0;
        case effClose:
            logLine("effClose");
            if (variant.faultAt == FaultAt::InClose) misbehave("effClose");
            joinResizer(plugin);
            delete plugin;
            return 0;
        case effSetSampleRate:
            logLine("effSetSampleRate %.9g", static_cast<double>(opt));
            logLine("hostSampleRate %lld",
                    static_cast<long long>(askHost(plugin, audioMasterGetSampleRate)));
            return 0;
        case effSetBlockSize:
            logLine("effSetBlockSize %lld", static_cast<long long>(value));
            return 0;
        case effMainsChanged:
            logLine("effMainsChanged %lld", static_cast<long long>(value));
            return 0;
        case effSetSpeakerArrangement: {
            const auto* in = reinterpret_cast<const VstSpeakerArrangement*>(value);
            const auto* out = static_cast<const VstSpeakerArrangement*>(ptr);
            const auto* speakers = reinterpret_cast<const unsigned char*>(out->speakers);
            bool zeroed = true;
            for (std::size_t i = 0; i < sizeof out->speakers; ++i)
                zeroed = zeroed && speakers[i] == 0;
            logLine("effSetSpeakerArrangement type=%d channels=%d same=%d zeroed=%d", out->type,
                    out->numChannels, in == out ? 1 : 0, zeroed ? 1 : 0);
            return 0;
        }
        case effProcessEvents:
            logEvents(plugin, static_cast<const VstEvents*>(ptr));
            return 1;
        case effEditGetRect:
            if (variant.editor == Editor::None) {
                logLine("effEditGetRect rect=none");
                return 0;
            }
            plugin->rect = ERect{0, 0, static_cast<int16_t>(plugin->editorHeight.load()),
                                 static_cast<int16_t>(plugin->editorWidth.load())};
            if (ptr) *static_cast<ERect**>(ptr) = &plugin->rect;
            logLine("effEditGetRect rect=%dx%d", plugin->editorWidth.load(),
                    plugin->editorHeight.load());
            return 1;
        case effEditOpen:
            plugin->editorParent = ptr;
            logLine("effEditOpen parent=%llu",
                    static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(ptr)));
            if (variant.faultAt == FaultAt::InEditOpen) misbehave("effEditOpen");
            if (variant.editor == Editor::SizeRequest) askResize(plugin, 640, 480, "editOpen");
            return variant.editor != Editor::None ? 1 : 0;
        case effEditClose:
            logLine("effEditClose window=%s", parentWindowState(plugin->editorParent));
            return 0;
        case effEditIdle:
            logLine("effEditIdle");
            return 0;
        case effGetChunk: {
            if (variant.faultAt == FaultAt::InGetChunk) misbehave("effGetChunk");
            if (!variant.chunks) {
                logLine("effGetChunk index=%d unsupported", index);
                return 0;
            }
            if (ptr) *static_cast<void**>(ptr) = plugin->chunk.data();
            logLine("effGetChunk index=%d size=%llu hash=%08x", index,
                    static_cast<unsigned long long>(plugin->chunk.size()),
                    static_cast<unsigned>(fnv1a(plugin->chunk.data(), plugin->chunk.size())));
            return static_cast<intptr_t>(plugin->chunk.size());
        }
        case effSetChunk: {
            const auto* bytes = static_cast<const unsigned char*>(ptr);
            const std::size_t size = bytes && value > 0 ? static_cast<std::size_t>(value) : 0;
            logLine("effSetChunk index=%d size=%lld hash=%08x", index,
                    static_cast<long long>(value), static_cast<unsigned>(fnv1a(bytes, size)));
            // Kept verbatim, so a host round trip can be checked byte for byte.
            if (variant.chunks) plugin->chunk.assign(bytes, bytes + size);
            return 1;
        }
        default:
            return 0;
    }
}

// ---- audio -------------------------------------------------------------------

float heldLevel(const Plugin* plugin) {
    float level = 0.0f;
    for (int note = 0; note < 128; ++note)
        if (plugin->held[note]) level += (note / 128.0f) * (plugin->held[note] / 127.0f);
    return level;
}

void applyEvent(Plugin* plugin, const PendingEvent& event) {
    const unsigned kind = event.status & 0xF0u;
    const unsigned note = event.data1 & 0x7Fu;
    if (kind == 0x90 && event.data2 > 0) plugin->held[note] = event.data2;
    else if (kind == 0x80 || kind == 0x90) plugin->held[note] = 0;
}

// Every sample from an event's delta frame on reflects that event; events
// at or past the block's end take effect from the next block.
void renderSynth(Plugin* plugin, float** outputs, int32_t frames) {
    bool applied[kMaxPendingEvents] = {};
    float level = heldLevel(plugin);
    for (int32_t i = 0; i < frames; ++i) {
        bool changed = false;
        for (int e = 0; e < plugin->pendingCount; ++e) {
            if (!applied[e] && plugin->pending[e].delta <= i) {
                applyEvent(plugin, plugin->pending[e]);
                applied[e] = true;
                changed = true;
            }
        }
        if (changed) level = heldLevel(plugin);
        for (int c = 0; c < variant.outputs; ++c) outputs[c][i] = level;
    }
    int kept = 0;
    for (int e = 0; e < plugin->pendingCount; ++e) {
        if (applied[e]) continue;
        PendingEvent later = plugin->pending[e];
        later.delta = 0;
        plugin->pending[kept++] = later;
    }
    plugin->pendingCount = kept;
}

// Plug-ins' vector loads fault on channels that are not 16-byte aligned.
void checkAlignment(float** inputs, float** outputs) {
    const auto aligned = [](const float* channel) {
        return reinterpret_cast<uintptr_t>(channel) % 16 == 0;
    };
    for (int c = 0; c < 2; ++c)
        if (!aligned(inputs[c]) || !aligned(outputs[c])) logLine("misaligned channel %d", c);
}

void processReplacing(AEffect* effect, float** inputs, float** outputs, int32_t frames) {
    Plugin* plugin = self(effect);
    logLine("processReplacing frames=%d", frames);
    checkAlignment(inputs, outputs);
    if (variant.faultAt == FaultAt::InProcess && frames > 0 && inputs[0][0] == faultTrigger)
        misbehave("processReplacing");
    const int outputCount = variant.outputs;
    switch (variant.render) {
        case Render::Gain:
            for (int c = 0; c < outputCount; ++c) {
                const float* in = c < variant.inputs ? inputs[c] : nullptr;
                for (int32_t i = 0; i < frames; ++i) outputs[c][i] = in ? 0.5f * in[i] : 0.0f;
            }
            break;
        case Render::Synth:
            renderSynth(plugin, outputs, frames);
            break;
        case Render::MixDown: {
            bool silent = true;
            for (int c = 2; c < variant.inputs; ++c) {
                if (!inputs[c]) {
                    silent = false;
                    continue;
                }
                for (int32_t i = 0; i < frames; ++i) silent = silent && inputs[c][i] == 0.0f;
            }
            logLine("extraInputs silent=%d", silent ? 1 : 0);
            for (int c = 0; c < outputCount; ++c)
                for (int32_t i = 0; i < frames; ++i)
                    outputs[c][i] = 0.5f * (inputs[0][i] + inputs[1][i]);
            // Scribble on the extra inputs: the host has to silence them again.
            for (int c = 2; c < variant.inputs; ++c)
                if (inputs[c])
                    for (int32_t i = 0; i < frames; ++i) inputs[c][i] = 1234.5f;
            break;
        }
        case Render::StateGain: {
            // The state is heard: a restored chunk changes the output.
            const float gain = plugin->chunk.size() > 8 ? plugin->chunk[8] / 64.0f : 0.5f;
            for (int c = 0; c < outputCount; ++c)
                for (int32_t i = 0; i < frames; ++i) outputs[c][i] = gain * inputs[c][i];
            break;
        }
        case Render::Constant:
            for (int c = 0; c < outputCount; ++c)
                for (int32_t i = 0; i < frames; ++i) outputs[c][i] = 0.125f;
            break;
        case Render::Accumulate:
            break;
    }
}

// The accumulating entry: adds to whatever the output holds.
void processAccumulating(AEffect*, float** inputs, float** outputs, int32_t frames) {
    checkAlignment(inputs, outputs);
    const int channels = variant.inputs < variant.outputs ? variant.inputs : variant.outputs;
    for (int c = 0; c < channels; ++c)
        for (int32_t i = 0; i < frames; ++i) outputs[c][i] += 0.25f * inputs[c][i];
}

void setParameter(AEffect*, int32_t, float) {}

float getParameter(AEffect*, int32_t) {
    return 0.0f;
}

}  // namespace

// ---- entry ---------------------------------------------------------------------

AEffect* TestPlugin::enter(HostCallback host, const char* via) {
    readLogPath();
    logLine("entry kind=%s via=%s version=%lld", variant.kind, via,
            static_cast<long long>(host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f)));
    if (variant.result == Result::Null) return nullptr;
    auto* plugin = new Plugin;
    plugin->host = host;
    if (variant.shell) {
        plugin->shellId =
            static_cast<int32_t>(host(nullptr, audioMasterCurrentId, 0, 0, nullptr, 0.0f));
        logLine("currentId %d", plugin->shellId);
    }
    if (variant.chunks) plugin->chunk = initialBlob();
    AEffect& effect = plugin->effect;
    effect.magic = variant.result == Result::BadMagic ? 0x50747356 : kEffectMagic;
    effect.dispatcher = dispatcher;
    effect.setParameter = setParameter;
    effect.getParameter = getParameter;
    effect.numInputs = variant.inputs;
    effect.numOutputs = variant.outputs;
    effect.initialDelay = variant.latency;
    effect.object = plugin;
    effect.uniqueID = variant.shell && plugin->shellId ? plugin->shellId : 0x43765473;
    effect.version = 1;
    int32_t flags = 0;
    if (variant.render == Render::Accumulate) {
        effect.process = processAccumulating;
    } else {
        effect.processReplacing = processReplacing;
        flags |= effFlagsCanReplacing;
    }
    if (variant.render == Render::Synth) flags |= effFlagsIsSynth;
    if (variant.chunks) flags |= effFlagsProgramChunks;
    if (variant.editor != Editor::None) flags |= effFlagsHasEditor;
    effect.flags = flags;
    if (variant.result == Result::BadMagic) {
        deleteStrayRecord();
        strayRecord = plugin;
    }
    // Too early: the host has no window for us yet; it must cope.
    if (variant.editor == Editor::SizeRequest) askHost(plugin, audioMasterSizeWindow, 640, 480);
    return &effect;
}
