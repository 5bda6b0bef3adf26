#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "dsp/ModuleFile.h"

namespace Vexa::DSP {

void ModuleFile::openNative(const std::string& path) {
    // Without O_NONBLOCK, opening a FIFO waits for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        opened = errno == ENOENT || errno == ENOTDIR ? Status::missing : Status::unreadable;
        systemProblem = std::strerror(errno);
        return;
    }
    handle = fd;
    struct stat facts {};
    if (::fstat(fd, &facts) != 0) {
        opened = Status::unreadable;
        systemProblem = std::strerror(errno);
    } else if (S_ISDIR(facts.st_mode)) {
        opened = Status::folder;
    } else if (!S_ISREG(facts.st_mode)) {
        opened = Status::special;
    } else {
        opened = Status::open;
        fileSize = static_cast<uint64_t>(facts.st_size);
    }
}

bool ModuleFile::readNative(uint64_t offset, void* out, std::size_t count) {
    auto* bytes = static_cast<char*>(out);
    while (count > 0) {
        const ssize_t got =
            ::pread(static_cast<int>(handle), bytes, count, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        // None at all: the file shrank since it was measured.
        if (got <= 0) return false;
        bytes += got;
        offset += static_cast<uint64_t>(got);
        count -= static_cast<std::size_t>(got);
    }
    return true;
}

void ModuleFile::closeNative() {
    if (handle >= 0) ::close(static_cast<int>(handle));
    handle = -1;
}

}  // namespace Vexa::DSP
