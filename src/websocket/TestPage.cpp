#include "websocket/TestPage.h"

#include <cstring>
#include <string>

#include "websocket/EmbeddedFiles.h"

namespace {

const EmbeddedFile* findFile(const char* path) {
    if (std::strcmp(path, "/index.html") == 0) path = "/";
    for (std::size_t i = 0; i < embeddedFileCount; ++i) {
        if (std::strcmp(embeddedFiles[i].path, path) == 0) return &embeddedFiles[i];
    }
    return nullptr;
}

int respond(mg_connection* conn, bool withBody) {
    const mg_request_info* request = mg_get_request_info(conn);
    const EmbeddedFile* file =
        request && request->local_uri ? findFile(request->local_uri) : nullptr;
    if (!file) {
        mg_send_http_error(conn, 404, "%s", "Not found");
        return 404;
    }
    const std::string length = std::to_string(file->size);
    mg_response_header_start(conn, 200);
    mg_response_header_add(conn, "Content-Type", file->contentType, -1);
    mg_response_header_add(conn, "Content-Length", length.c_str(), -1);
    // The page changes with the program; a cached copy could talk an old protocol.
    mg_response_header_add(conn, "Cache-Control", "no-store", -1);
    mg_response_header_add(conn, "X-Content-Type-Options", "nosniff", -1);
    // Cross-origin isolation: the page's audio node may then share memory
    // between its worklet and its worker.
    mg_response_header_add(conn, "Cross-Origin-Opener-Policy", "same-origin", -1);
    mg_response_header_add(conn, "Cross-Origin-Embedder-Policy", "require-corp", -1);
    mg_response_header_send(conn);
    if (withBody) mg_write(conn, file->data, file->size);
    return 200;
}

}  // namespace

bool TestPage::handleGet(CivetServer*, mg_connection* conn, int* status) {
    *status = respond(conn, true);
    return true;
}

bool TestPage::handleHead(CivetServer*, mg_connection* conn, int* status) {
    *status = respond(conn, false);
    return true;
}
