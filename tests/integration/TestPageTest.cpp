// The built-in test page: plain HTTP beside the WebSocket on the same path.
#include "../support/Sockets.h"
#include "HostFixture.h"

using namespace testing_support;

namespace {

// One HTTP/1.1 request over a fresh connection; the whole response as sent.
std::string httpRequest(uint16_t port, const std::string& method, const std::string& path) {
    const int fd = connectLoopback(port);
    if (fd < 0) return "";
    const std::string request = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                "\r\nConnection: close\r\n\r\n";
    std::string response;
    char buffer[65536];
    pollfd watched{fd, POLLIN, 0};
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size()))
        for (ssize_t got; poll(&watched, 1, 10000) > 0 && (got = recv(fd, buffer, sizeof buffer, 0)) > 0;)
            response.append(buffer, static_cast<std::size_t>(got));
    close(fd);
    return response;
}

std::string body(const std::string& response) {
    const auto end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : response.substr(end + 4);
}

bool hasHeader(const std::string& response, const std::string& line) {
    return response.substr(0, response.find("\r\n\r\n")).find("\r\n" + line + "\r\n") != std::string::npos;
}

}  // namespace

using TestPageTest = HostTest;

TEST_F(TestPageTest, ServesThePageAndItsScriptsHeadWithoutABodyAndUnknownPathsWithNotFound) {
    for (const char* path : {"/", "/index.html", "/corvel-client.js", "/test-page.js", "/corvel-audio-node.js",
                             "/corvel-node-worker.js", "/corvel-node-worklet.js", "/corvel-block-ring.js",
                             "/round-trip-plot.js"}) {
        const std::string response = httpRequest(program->port(), "GET", path);
        ASSERT_EQ(response.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << path << "\n" << response.substr(0, 200);
        const bool html = std::string(path).find(".js") == std::string::npos;
        EXPECT_TRUE(hasHeader(response, html ? "Content-Type: text/html; charset=utf-8"
                                             : "Content-Type: text/javascript; charset=utf-8")) << path;
        EXPECT_TRUE(hasHeader(response, "Content-Length: " + std::to_string(body(response).size()))) << path;
        EXPECT_GT(body(response).size(), 1000u) << path;
        // Cross-origin isolated, so that the page's audio node can share memory.
        EXPECT_TRUE(hasHeader(response, "Cross-Origin-Opener-Policy: same-origin")) << path;
        EXPECT_TRUE(hasHeader(response, "Cross-Origin-Embedder-Policy: require-corp")) << path;
    }
    const std::string head = httpRequest(program->port(), "HEAD", "/");
    EXPECT_EQ(head.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << head;
    EXPECT_EQ(body(head), "");
    for (const char* path : {"/missing.js", "/corvel-client.js/x", "/../CMakeLists.txt"}) {
        const std::string response = httpRequest(program->port(), "GET", path);
        EXPECT_EQ(response.rfind("HTTP/1.1 404", 0), 0u) << path << "\n" << response.substr(0, 200);
    }
    // The page's requests leave the WebSocket client alone, and an upgrade
    // after them still reaches the channel.
    expectAlive();
    client.disconnect();
    ASSERT_TRUE(program->waitForOutput("WS closed\n"));
    httpRequest(program->port(), "GET", "/");
    ASSERT_TRUE(connectClient(client));
    expectAlive();
}
