#include "dsp/ModuleFile.h"

#include <algorithm>
#include <cstring>

namespace Vexa::DSP {

ModuleFile::ModuleFile(const std::string& path) {
    openNative(path);
}

ModuleFile::~ModuleFile() {
    closeNative();
}

bool ModuleFile::read(uint64_t offset, void* out, std::size_t count) {
    if (opened != Status::open || offset > fileSize || count > fileSize - offset) return false;
    if (count > windowBytes) return readNative(offset, out, count);
    if (offset < windowStart || offset + count > windowStart + window.size()) {
        windowStart = offset;
        window.resize(
            static_cast<std::size_t>(std::min<uint64_t>(windowBytes, fileSize - windowStart)));
        if (!readNative(windowStart, window.data(), window.size())) {
            window.clear();
            return false;
        }
    }
    std::memcpy(out, window.data() + (offset - windowStart), count);
    return true;
}

}  // namespace Vexa::DSP
