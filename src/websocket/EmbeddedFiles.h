// Files compiled into the program (the test page and its scripts), served
// by TestPage. The table is generated at build time from clients/js.
#pragma once

#include <cstddef>

struct EmbeddedFile {
    const char* path;  // the URL path it is served under
    const char* contentType;
    const unsigned char* data;
    std::size_t size;
};

extern const EmbeddedFile embeddedFiles[];
extern const std::size_t embeddedFileCount;
