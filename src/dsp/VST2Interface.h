// The VST 2 binary interface as far as this host uses it, written from the
// published record layout. Every record is laid out as plug-ins built for
// 64-bit Windows and Linux, and for 32-bit Windows, expect it; the asserts at
// the end pin that.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Vexa::DSP::VST2 {

struct AEffect;

using HostCallback = intptr_t (*)(AEffect* effect, int32_t opcode, int32_t index, intptr_t value,
                                  void* ptr, float opt);
using DispatcherProc = intptr_t (*)(AEffect* effect, int32_t opcode, int32_t index, intptr_t value,
                                    void* ptr, float opt);
using ProcessProc = void (*)(AEffect* effect, float** inputs, float** outputs, int32_t frames);
using ProcessDoubleProc = void (*)(AEffect* effect, double** inputs, double** outputs,
                                   int32_t frames);
using SetParameterProc = void (*)(AEffect* effect, int32_t index, float value);
using GetParameterProc = float (*)(AEffect* effect, int32_t index);
using EntryPoint = AEffect* (*)(HostCallback callback);

constexpr int32_t kEffectMagic = 0x56737450;  // "VstP"

struct AEffect {
    int32_t magic;
    DispatcherProc dispatcher;
    ProcessProc process;  // accumulating entry
    SetParameterProc setParameter;
    GetParameterProc getParameter;
    int32_t numPrograms;
    int32_t numParams;
    int32_t numInputs;
    int32_t numOutputs;
    int32_t flags;
    intptr_t resvd1;  // host-owned: the wrapper's address
    intptr_t resvd2;
    int32_t initialDelay;
    int32_t realQualities;
    int32_t offQualities;
    float ioRatio;
    void* object;
    void* user;
    int32_t uniqueID;
    int32_t version;
    ProcessProc processReplacing;
    ProcessDoubleProc processDoubleReplacing;
    char future[56];
};

// AEffect::flags
constexpr int32_t effFlagsHasEditor = 1 << 0;
constexpr int32_t effFlagsCanReplacing = 1 << 4;
constexpr int32_t effFlagsProgramChunks = 1 << 5;
constexpr int32_t effFlagsIsSynth = 1 << 8;
constexpr int32_t effFlagsNoSoundInStop = 1 << 9;
constexpr int32_t effFlagsCanDoubleReplacing = 1 << 12;

// Dispatcher opcodes (host to plug-in)
enum EffectOpcode : int32_t {
    effOpen = 0,
    effClose = 1,
    effSetProgram = 2,
    effGetProgram = 3,
    effSetProgramName = 4,
    effGetProgramName = 5,
    effGetParamLabel = 6,
    effGetParamDisplay = 7,
    effGetParamName = 8,
    effSetSampleRate = 10,
    effSetBlockSize = 11,
    effMainsChanged = 12,
    effEditGetRect = 13,
    effEditOpen = 14,
    effEditClose = 15,
    effEditIdle = 19,
    effGetChunk = 23,
    effSetChunk = 24,
    effProcessEvents = 25,
    effCanBeAutomated = 26,
    effGetProgramNameIndexed = 29,
    effGetInputProperties = 33,   // ptr: a VstPinProperties; index: the input
    effGetOutputProperties = 34,  // ptr: a VstPinProperties; index: the output
    effGetPlugCategory = 35,
    effSetSpeakerArrangement = 42,
    effSetBypass = 44,
    effGetEffectName = 45,
    effGetVendorString = 47,
    effGetProductString = 48,
    effGetVendorVersion = 49,
    effCanDo = 51,
    effGetParameterProperties = 56,
    effGetVstVersion = 58,
    effBeginSetProgram = 67,
    effEndSetProgram = 68,
    effShellGetNextPlugin = 70,  // ptr: a name buffer; answers the next id, 0 after the last
    effStartProcess = 71,
    effStopProcess = 72,
};

// Callback opcodes (plug-in to host)
enum HostOpcode : int32_t {
    audioMasterAutomate = 0,
    audioMasterVersion = 1,
    audioMasterCurrentId = 2,  // a shell module asks which of its plug-ins to build
    audioMasterIdle = 3,
    audioMasterGetTime = 7,
    audioMasterProcessEvents = 8,
    audioMasterIOChanged = 13,
    audioMasterSizeWindow = 15,
    audioMasterGetSampleRate = 16,
    audioMasterGetBlockSize = 17,
    audioMasterGetCurrentProcessLevel = 23,
    audioMasterCanDo = 37,
    audioMasterUpdateDisplay = 42,  // the plug-in's parameters or programs changed as a whole
    audioMasterBeginEdit = 43,      // index: the parameter the user took hold of
    audioMasterEndEdit = 44,        // index: the parameter the user let go
};

constexpr intptr_t kVstProcessLevelRealtime = 2;
constexpr intptr_t kVstProcessLevelOffline = 4;

// VstTimeInfo::flags
constexpr int32_t kVstTransportChanged = 1;
constexpr int32_t kVstTransportPlaying = 1 << 1;
constexpr int32_t kVstTransportCycleActive = 1 << 2;
constexpr int32_t kVstTransportRecording = 1 << 3;
constexpr int32_t kVstNanosValid = 1 << 8;
constexpr int32_t kVstPpqPosValid = 1 << 9;
constexpr int32_t kVstTempoValid = 1 << 10;
constexpr int32_t kVstBarsValid = 1 << 11;
constexpr int32_t kVstCyclePosValid = 1 << 12;
constexpr int32_t kVstTimeSigValid = 1 << 13;

struct VstTimeInfo {
    double samplePos;
    double sampleRate;
    double nanoSeconds;
    double ppqPos;
    double tempo;
    double barStartPos;
    double cycleStartPos;
    double cycleEndPos;
    int32_t timeSigNumerator;
    int32_t timeSigDenominator;
    int32_t smpteOffset;
    int32_t smpteFrameRate;
    int32_t samplesToNextClock;
    int32_t flags;
};

// VstPinProperties::flags
constexpr int32_t kVstPinIsActive = 1 << 0;
constexpr int32_t kVstPinIsStereo = 1 << 1;

struct VstPinProperties {
    char label[64];
    int32_t flags;
    int32_t arrangementType;
    char shortLabel[8];
    char future[48];
};

// What effGetPlugCategory answers.
enum PlugCategory : int32_t {
    kPlugCategUnknown = 0,
    kPlugCategEffect = 1,
    kPlugCategSynth = 2,
    kPlugCategAnalysis = 3,
    kPlugCategMastering = 4,
    kPlugCategSpacializer = 5,
    kPlugCategRoomFx = 6,
    kPlugSurroundFx = 7,
    kPlugCategRestoration = 8,
    kPlugCategOfflineProcess = 9,
    kPlugCategShell = 10,  // holds several plug-ins: effShellGetNextPlugin lists them
    kPlugCategGenerator = 11,
};

// The buffers the string opcodes write into. The published limits are
// smaller (32 and 64 with the terminator); plug-ins that overrun them are
// common enough that these are wider.
constexpr std::size_t kNameBufferSize = 256;

struct ERect {
    int16_t top;
    int16_t left;
    int16_t bottom;
    int16_t right;
};

constexpr int32_t kVstMidiType = 1;
constexpr int32_t kVstSysExType = 6;
constexpr int32_t kVstMidiEventIsRealtime = 1;

struct VstEvent {
    int32_t type;
    int32_t byteSize;
    int32_t deltaFrames;
    int32_t flags;
    char data[16];
};

struct VstMidiEvent {
    int32_t type;
    int32_t byteSize;
    int32_t deltaFrames;
    int32_t flags;
    int32_t noteLength;
    int32_t noteOffset;
    char midiData[4];
    char detune;
    char noteOffVelocity;
    char reserved1;
    char reserved2;
};

struct VstMidiSysexEvent {
    int32_t type;
    int32_t byteSize;
    int32_t deltaFrames;
    int32_t flags;
    int32_t dumpBytes;
    intptr_t resvd1;
    char* sysexDump;
    intptr_t resvd2;
};

// The event list as plug-ins read it: a count, a reserved word, then the
// pointers. The published record declares two slots and is over-allocated.
template <std::size_t Slots>
struct VstEventList {
    int32_t numEvents;
    intptr_t reserved;
    VstEvent* events[Slots];
};
using VstEvents = VstEventList<2>;

// What effGetParameterProperties fills in, where the plug-in offers it.
constexpr int32_t kVstParameterIsSwitch = 1 << 0;
constexpr int32_t kVstParameterUsesIntegerMinMax = 1 << 1;
constexpr int32_t kVstParameterSupportsDisplayCategory = 1 << 5;

struct VstParameterProperties {
    float stepFloat;
    float smallStepFloat;
    float largeStepFloat;
    char label[64];
    int32_t flags;
    int32_t minInteger;
    int32_t maxInteger;
    int32_t stepInteger;
    int32_t largeStepInteger;
    char shortLabel[8];
    int16_t displayIndex;
    int16_t category;  // from 1; 0: none
    int16_t numParametersInCategory;
    int16_t reserved;
    char categoryLabel[24];
    char future[16];
};

constexpr int32_t kSpeakerArrStereo = 1;

struct VstSpeakerProperties {
    float azimuth;
    float elevation;
    float radius;
    float reserved;
    char name[64];
    int32_t type;
    char future[28];
};

struct VstSpeakerArrangement {
    int32_t type;
    int32_t numChannels;
    VstSpeakerProperties speakers[8];
};

// Plug-ins of both x86 word sizes: the 32-bit plug-in process on Windows
// runs those built for 32 bits.
static_assert(sizeof(void*) == 8 || sizeof(void*) == 4, "64-bit and 32-bit plug-ins only");
constexpr bool kWide = sizeof(void*) == 8;
static_assert(offsetof(AEffect, magic) == 0);
static_assert(offsetof(AEffect, dispatcher) == (kWide ? 8 : 4));
static_assert(offsetof(AEffect, process) == (kWide ? 16 : 8));
static_assert(offsetof(AEffect, setParameter) == (kWide ? 24 : 12));
static_assert(offsetof(AEffect, getParameter) == (kWide ? 32 : 16));
static_assert(offsetof(AEffect, numPrograms) == (kWide ? 40 : 20));
static_assert(offsetof(AEffect, numParams) == (kWide ? 44 : 24));
static_assert(offsetof(AEffect, numInputs) == (kWide ? 48 : 28));
static_assert(offsetof(AEffect, numOutputs) == (kWide ? 52 : 32));
static_assert(offsetof(AEffect, flags) == (kWide ? 56 : 36));
static_assert(offsetof(AEffect, resvd1) == (kWide ? 64 : 40));
static_assert(offsetof(AEffect, resvd2) == (kWide ? 72 : 44));
static_assert(offsetof(AEffect, initialDelay) == (kWide ? 80 : 48));
static_assert(offsetof(AEffect, ioRatio) == (kWide ? 92 : 60));
static_assert(offsetof(AEffect, object) == (kWide ? 96 : 64));
static_assert(offsetof(AEffect, user) == (kWide ? 104 : 68));
static_assert(offsetof(AEffect, uniqueID) == (kWide ? 112 : 72));
static_assert(offsetof(AEffect, version) == (kWide ? 116 : 76));
static_assert(offsetof(AEffect, processReplacing) == (kWide ? 120 : 80));
static_assert(offsetof(AEffect, processDoubleReplacing) == (kWide ? 128 : 84));
static_assert(sizeof(AEffect) == (kWide ? 192 : 144));
static_assert(sizeof(ERect) == 8);
static_assert(sizeof(VstEvent) == 32);
static_assert(sizeof(VstMidiEvent) == 32);
static_assert(offsetof(VstMidiEvent, midiData) == 24);
static_assert(offsetof(VstMidiEvent, detune) == 28);
static_assert(offsetof(VstEvents, numEvents) == 0);
static_assert(offsetof(VstEvents, reserved) == (kWide ? 8 : 4));
static_assert(offsetof(VstEvents, events) == (kWide ? 16 : 8));
static_assert(sizeof(VstEvents) == (kWide ? 32 : 16));
static_assert(sizeof(VstSpeakerProperties) == 112);
static_assert(sizeof(VstTimeInfo) == 88);
static_assert(offsetof(VstTimeInfo, timeSigNumerator) == 64);
static_assert(offsetof(VstTimeInfo, flags) == 84);
static_assert(sizeof(VstPinProperties) == 128);
static_assert(offsetof(VstMidiSysexEvent, sysexDump) == (kWide ? 32 : 24));
static_assert(sizeof(VstMidiSysexEvent) == (kWide ? 48 : 32));
static_assert(offsetof(VstParameterProperties, flags) == 76);
static_assert(offsetof(VstParameterProperties, shortLabel) == 96);
static_assert(offsetof(VstParameterProperties, category) == 106);
static_assert(offsetof(VstParameterProperties, categoryLabel) == 112);
static_assert(sizeof(VstParameterProperties) == 152);
static_assert(offsetof(VstSpeakerProperties, name) == 16);
static_assert(offsetof(VstSpeakerProperties, type) == 80);
static_assert(offsetof(VstSpeakerArrangement, speakers) == 8);
static_assert(sizeof(VstSpeakerArrangement) == 904);

}  // namespace Vexa::DSP::VST2
