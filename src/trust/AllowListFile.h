// The allow-list file's bytes, read and appended to without trusting what
// is at its path: a FIFO there must not hold a handshake, and a link to a
// device must not feed it without end. One implementation per platform.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

// A list of a thousand origins is about 30 KiB.
constexpr std::size_t maxAllowListBytes = 64 * 1024;

struct AllowListBytes {
    std::string text;     // empty when the file is missing or refused
    std::string refusal;  // why the file was not read; empty when it was, or is missing
};

// Any thread. The whole file when it is a regular file of at most
// maxAllowListBytes; never waits for a writer.
AllowListBytes readAllowListFile(const std::filesystem::path& file);

// Any thread. Appends text to the file, creating it when missing. False,
// with why, for anything but a regular file, or when the file would grow
// past maxAllowListBytes.
bool appendToAllowListFile(const std::filesystem::path& file, std::string_view text,
                           std::string& why);
