#include "host/VST2Host.h"

#include "shell/GuiDispatch.h"

VST2Host::VST2Host(uint16_t port) : ipc(port) {
    setBlockSize(1024);
    try {
        ipc.listen(this);
    } catch (...) {
        freeStagingArrays();  // the destructor does not run for a failed construction
        throw;
    }
}

VST2Host::~VST2Host() {
    stopChannel();
    destroyPlugin();
    freeStagingArrays();
}

void VST2Host::stopChannel() {
    // A worker waiting on this thread would keep the server from stopping.
    releaseSyncCallers();
    ipc.stop();
}

void VST2Host::requestLoad(std::string path) {
    postLoadPlugin(std::move(path));
}

void VST2Host::requestUnload() {
    postUnloadPlugin();
}

void VST2Host::requestState() {
    getStateSync();
}

void VST2Host::requestRestore(const uint8_t* data, uint64_t size) {
    setStateSync(data, size);
}

void VST2Host::requestShowGui() {
    postShowGui();
}

void VST2Host::requestQuit() {
    postQuit();
}
