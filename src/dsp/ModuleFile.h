// A module file opened for reading its headers: a regular file only,
// opened without blocking, so a pipe or a device at the path costs a
// refusal instead of a hang. Used on one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dsp/ModuleJudgement.h"

namespace Vexa::DSP {

class ModuleFile final : public ModuleBytes {
public:
    enum class Status { open, missing, unreadable, folder, special };

    explicit ModuleFile(const std::string& path);
    ~ModuleFile() override;
    ModuleFile(const ModuleFile&) = delete;
    ModuleFile& operator=(const ModuleFile&) = delete;

    Status status() const { return opened; }
    // The system's words for why it could not be opened (unreadable only).
    const std::string& problem() const { return systemProblem; }

    uint64_t size() const override { return fileSize; }
    // Served from a window of the file: the headers, tables and names a
    // module's judgement reads lie mostly close together, so most reads
    // cost no system call.
    bool read(uint64_t offset, void* out, std::size_t count) override;

private:
    // Per platform (dsp/posix, dsp/win32).
    void openNative(const std::string& path);
    bool readNative(uint64_t offset, void* out, std::size_t count);
    void closeNative();

    static constexpr std::size_t windowBytes = 64 * 1024;

    Status opened = Status::missing;
    std::string systemProblem;
    intptr_t handle = -1;
    uint64_t fileSize = 0;
    std::vector<uint8_t> window;
    uint64_t windowStart = 0;
};

}  // namespace Vexa::DSP
