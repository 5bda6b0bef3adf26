// A library that is no plug-in: its constructor writes "constructor of
// <MARK_KIND>" to the plug-in log, so a test sees whether a host ran any of
// its code. With MARK_ENTRY it has an entry point too, one that gives no
// plug-in.
#include <cstdio>
#include <cstdlib>

__attribute__((constructor)) static void leaveMark() {
    const char* log = std::getenv("CORVEL_TEST_PLUGIN_LOG");
    if (FILE* file = log ? std::fopen(log, "ab") : nullptr) {
        std::fputs("constructor of " MARK_KIND "\n", file);
        std::fclose(file);
    }
}

#ifdef MARK_ENTRY
#ifdef _WIN32
extern "C" __declspec(dllexport) void* VSTPluginMain(void*) {
#else
extern "C" __attribute__((visibility("default"))) void* VSTPluginMain(void*) {
#endif
    return nullptr;
}
#endif
