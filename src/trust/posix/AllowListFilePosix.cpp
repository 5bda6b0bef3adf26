#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "trust/AllowListFile.h"

namespace {

// Owns one descriptor.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd; }

private:
    int fd;
};

// Non-blocking: opening a FIFO for reading would otherwise wait for a writer.
constexpr int openFlags = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

std::string whatIs(const struct stat& status) {
    if (S_ISFIFO(status.st_mode)) return "a FIFO";
    if (S_ISDIR(status.st_mode)) return "a folder";
    if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode)) return "a device";
    if (S_ISSOCK(status.st_mode)) return "a socket";
    return "not a plain file";
}

// Why the open file cannot be the allow-list; empty when it can.
std::string problemWith(int fd, std::size_t adding, struct stat& status) {
    if (::fstat(fd, &status) != 0)
        return std::string("cannot be examined: ") + std::strerror(errno);
    if (!S_ISREG(status.st_mode)) return "is " + whatIs(status) + ", not a regular file";
    if (static_cast<uint64_t>(status.st_size) + adding > maxAllowListBytes)
        return adding ? "would grow past 64 KiB" : "is larger than 64 KiB";
    return {};
}

}  // namespace

AllowListBytes readAllowListFile(const std::filesystem::path& file) {
    AllowListBytes result;
    const Descriptor fd(::open(file.c_str(), O_RDONLY | openFlags));
    if (fd.get() < 0) {
        if (errno != ENOENT)
            result.refusal = std::string("cannot be opened: ") + std::strerror(errno);
        return result;
    }
    struct stat status {};
    result.refusal = problemWith(fd.get(), 0, status);
    if (!result.refusal.empty()) return result;
    // The size can change after fstat: read one byte past the bound to see.
    std::string text(maxAllowListBytes + 1, '\0');
    std::size_t used = 0;
    while (used < text.size()) {
        const ssize_t got = ::read(fd.get(), &text[used], text.size() - used);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            result.refusal = std::string("cannot be read: ") + std::strerror(errno);
            return result;
        }
        if (got == 0) break;
        used += static_cast<std::size_t>(got);
    }
    if (used > maxAllowListBytes) {
        result.refusal = "is larger than 64 KiB";
        return result;
    }
    text.resize(used);
    result.text = std::move(text);
    return result;
}

bool appendToAllowListFile(const std::filesystem::path& file, std::string_view text,
                           std::string& why) {
    const Descriptor fd(::open(file.c_str(), O_RDWR | O_APPEND | O_CREAT | openFlags, 0666));
    if (fd.get() < 0) {
        why = std::string("cannot be opened: ") + std::strerror(errno);
        return false;
    }
    struct stat status {};
    why = problemWith(fd.get(), text.size() + 1, status);
    if (!why.empty()) return false;
    // A last line without its newline must not swallow the new entry.
    std::string line;
    char last = '\n';
    if (status.st_size > 0 && ::pread(fd.get(), &last, 1, status.st_size - 1) == 1 && last != '\n')
        line = "\n";
    line.append(text).push_back('\n');
    std::size_t written = 0;
    while (written < line.size()) {
        const ssize_t put = ::write(fd.get(), line.data() + written, line.size() - written);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            why = std::string("cannot be written: ") + std::strerror(errno);
            return false;
        }
        written += static_cast<std::size_t>(put);
    }
    return true;
}
