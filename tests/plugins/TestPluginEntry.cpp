// One test plug-in's variant and entry points, from the PLUGIN_ knobs that
// CMakeLists.txt sets, every one, for its module: enumerators of
// TestPluginVariant.h by name, numbers, and ENTRY_ choices.

#include "TestPluginVariant.h"

using namespace TestPlugin;
using Vexa::DSP::VST2::AEffect;
using Vexa::DSP::VST2::HostCallback;

// Which entry points the module exports: preprocessor choices, since they
// decide which symbols exist.
#define ENTRY_VST 1   // VSTPluginMain only
#define ENTRY_MAIN 2  // main only
#define ENTRY_BOTH 3
#define ENTRY_NONE 4  // neither: the entry under a name no host looks for

#if defined(_WIN32)
#define PLUGIN_EXPORT extern "C" __declspec(dllexport)
#else
#define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

const Variant TestPlugin::variant = {
    PLUGIN_KIND,           PLUGIN_INPUTS,         PLUGIN_OUTPUTS,
    PLUGIN_LATENCY,        Render::PLUGIN_RENDER, PLUGIN_CHUNKS != 0,
    Editor::PLUGIN_EDITOR, Result::PLUGIN_RESULT, FaultAt::PLUGIN_FAULT_AT,
    Fault::PLUGIN_FAULT,   PLUGIN_SHELL != 0};

#if PLUGIN_ENTRIES == ENTRY_VST || PLUGIN_ENTRIES == ENTRY_BOTH
PLUGIN_EXPORT AEffect* VSTPluginMain(HostCallback host) {
    return enter(host, "VSTPluginMain");
}
#endif

#if PLUGIN_ENTRIES == ENTRY_MAIN || PLUGIN_ENTRIES == ENTRY_BOTH
// Older hosts look for "main"; a C++ function may not carry that name, so
// the symbol is set by an asm label. 32-bit Windows puts an underscore
// before C names, which the export directive leaves out: it is written here.
#if defined(_WIN32) && !defined(_WIN64)
extern "C" AEffect* legacyMain(HostCallback host) __asm__("_main");
__asm__(".section .drectve\n.ascii \" -export:main\"\n.text");
#else
PLUGIN_EXPORT AEffect* legacyMain(HostCallback host) __asm__("main");
#endif
AEffect* legacyMain(HostCallback host) {
    return enter(host, "main");
}
#endif

#if PLUGIN_ENTRIES == ENTRY_NONE
PLUGIN_EXPORT AEffect* pluginEntryUnderAnotherName(HostCallback host) {
    return enter(host, "other");
}
#endif
