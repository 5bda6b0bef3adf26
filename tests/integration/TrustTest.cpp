// Who may connect: the user, the Host header, the origin, the allow-list and
// the dialog.
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <future>

#include "../support/X11WindowProbe.h"
#include "HostFixture.h"

using namespace testing_support;

namespace {

const char dialogTitle[] = "Corvel VST/Remote";

class TrustTest : public HostTest {
protected:
    TrustTest() {
        char pattern[] = "/tmp/corvel-trust-XXXXXX";
        configHome = mkdtemp(pattern);
        allowList = configHome / "corvel-vst-remote" / "allowed-origins";
    }
    ~TrustTest() override { std::filesystem::remove_all(configHome); }

    std::map<std::string, std::string> environment() override {
        auto env = headlessEnvironment();
        env["XDG_CONFIG_HOME"] = configHome.string();
        return env;
    }

    // One handshake with these headers; the response when it was refused.
    std::optional<std::string> refusalOf(const std::string& host, const std::string& origin) {
        WsClient other;
        other.useHeaders(host, origin);
        if (other.connectOnce(program->port(), 20000)) return std::nullopt;
        return other.handshakeResponse();
    }

    // A one-line 403 that names the reason, and the program's log line.
    std::string expectRefused(const std::string& host, const std::string& origin,
                              const std::string& logLine) {
        SCOPED_TRACE(host + " " + origin);
        const std::string refusal = refusalOf(host, origin).value_or("accepted");
        EXPECT_EQ(refusal.rfind("HTTP/1.1 403", 0), 0u) << refusal;
        const std::string body = refusal.substr(refusal.find("\r\n\r\n") + 4);
        EXPECT_EQ(body.find('\n'), std::string::npos) << "one line: " << body;
        EXPECT_NE(body.find("Refused"), std::string::npos) << body;
        EXPECT_TRUE(program->waitForOutput(logLine + "\n"));
        return body;
    }

    std::string allowed() {
        std::ifstream file(allowList);
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    std::string port() const { return std::to_string(program->port()); }

    // A native client's whole conversation, run by bash after the command
    // prefix runAs from a socket for `address`: the handshake, then frames
    // (printf escapes, masked with a zero key), sent once the handshake is
    // answered as RFC 6455 has it, or with `atOnce` in the handshake's own
    // write. Returns what the program sent back.
    std::string converse(const std::string& runAs, const std::string& address,
                         const std::string& frames, bool atOnce = false) {
        const std::string request = "GET / HTTP/1.1\\r\\nHost: 127.0.0.1:" + port() +
                                    "\\r\\nUpgrade: websocket\\r\\nConnection: Upgrade\\r\\n"
                                    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\\r\\n"
                                    "Sec-WebSocket-Version: 13\\r\\n\\r\\n";
        const std::string awaitAnswer =
            "while IFS= read -r -t 10 line <&3; do printf \"%s\\n\" \"$line\"; "
            "[ \"$line\" = \"$(printf \"\\r\")\" ] && break; done && ";
        const std::string talk = atOnce ? "printf \"" + request + frames + "\" >&3 && "
                                        : "printf \"" + request + "\" >&3 && " + awaitAnswer +
                                              "printf \"" + frames + "\" >&3 && ";
        const std::string command = runAs + " bash -c 'exec 3<>/dev/tcp/" + address + "/" + port() +
                                    " && " + talk + "timeout 10 cat <&3'";
        std::string answer;
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char buffer[4096];
            for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
                answer.append(buffer, got);
            pclose(pipe);
        }
        return answer;
    }

    std::filesystem::path configHome;
    std::filesystem::path allowList;
};

}  // namespace

TEST_F(TrustTest, ForeignHostsAndOriginsAreRefusedUnlessAllowedAndTheOwnPageIsServed) {
    client.disconnect();
    expectRefused("evil.example:" + port(), "", "WS refused host evil.example:" + port());
    expectRefused("127.0.0.1:1", "", "WS refused host 127.0.0.1:1");
    expectRefused("", "null", "WS refused origin null");
    // The Windows program always has a display, so it would ask; its
    // answers are checked by the Windows checks (scenario "consent"), and it
    // keeps its allow-list under %APPDATA%.
    if (ProgramUnderTest::isNative()) {
        const std::string origin = "https://daw.example:8443";
        const std::string body = expectRefused("", origin, "WS refused origin " + origin);
        EXPECT_NE(body.find("allowed-origins"), std::string::npos) << body;
        EXPECT_NE(body.find("dialog"), std::string::npos) << body;
        // The allow-list is read at every handshake.
        std::filesystem::create_directories(allowList.parent_path());
        std::ofstream(allowList) << "# trusted pages\n  HTTPS://DAW.Example:8443  # the studio\n";
        WsClient page;
        page.useHeaders("", origin);
        ASSERT_TRUE(connectClient(page));
        expectAlive(page);
        page.disconnect();
        ASSERT_TRUE(program->waitForOutput("WS closed\n"));
        std::ofstream(allowList) << "https://daw.example:8444\n";  // the port compares exactly
        expectRefused("", origin, "WS refused origin " + origin);

        // What cannot be the list counts as empty, at once and with a reason:
        // a FIFO would hold the handshake, /dev/zero would feed it without end.
        const std::string entry = origin + "\n", bound(64 * 1024, '#');
        const std::pair<std::function<void()>, std::string> unusable[] = {
            {[&] { ASSERT_EQ(mkfifo(allowList.c_str(), 0600), 0); },
             "is a FIFO, not a regular file"},
            {[&] { std::filesystem::create_symlink("/dev/zero", allowList); },
             "is a device, not a regular file"},
            {[&] { std::filesystem::create_directory(allowList); },
             "is a folder, not a regular file"},
            {[&] { std::ofstream(allowList) << entry << bound.substr(entry.size() - 1); },
             "is larger than 64 KiB"},
        };
        for (const auto& [make, why] : unusable) {
            std::filesystem::remove_all(allowList);
            make();
            expectRefused("", origin, "WS refused origin " + origin);
            EXPECT_NE(program->errors().find("allow-list " + allowList.string() + " " + why +
                                             ": taken as empty\n"),
                      std::string::npos)
                << program->errors();
        }
        std::filesystem::remove_all(allowList);
        std::ofstream(allowList) << bound.substr(entry.size() + 1) << "\n"
                                 << entry;  // 64 KiB exactly
        WsClient atBound;
        atBound.useHeaders("", origin);
        ASSERT_TRUE(connectClient(atBound));
    }
    for (const std::string& origin : {"http://127.0.0.1:" + port(), "http://LOCALHOST:" + port()}) {
        WsClient page;
        page.useHeaders("localhost:" + port(), origin);
        ASSERT_TRUE(connectClient(page)) << origin;
        expectAlive(page);
    }
}

TEST_F(TrustTest, OnlyClientsOfTheProgramsOwnUserAreServed) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run a client as another user";
    const std::string otherUser = "setpriv --reuid=65534 --regid=65534 --clear-groups";
    const std::string resumeAndClose =
        "\\x81\\x86\\x00\\x00\\x00\\x00resume\\x88\\x80\\x00\\x00\\x00\\x00";

    // An IPv6 socket reaches the IPv4 port by the mapped address, and is
    // listed among the IPv6 sockets.
    for (const std::string address : {"127.0.0.1", "::ffff:127.0.0.1"}) {
        const std::string served = converse("", address, resumeAndClose);
        EXPECT_EQ(served.rfind("HTTP/1.1 101", 0), 0u) << address << ": " << served;
        EXPECT_NE(served.find("bypass\nfalse"), std::string::npos) << address << ": " << served;
    }

    // The same client as another user, its frames sent with the handshake:
    // refused before anything it sent runs.
    const std::string refused = converse(otherUser, "127.0.0.1", resumeAndClose, true);
    EXPECT_EQ(refused.rfind("HTTP/1.1 403", 0), 0u) << refused;
    EXPECT_NE(refused.find("from user 65534."), std::string::npos) << refused;
    EXPECT_EQ(refused.find("bypass"), std::string::npos) << refused;
    EXPECT_TRUE(program->waitForOutput("WS refused user 65534\n"));

    expectAlive();
    EXPECT_EQ(outputCount("WS connected"), 3);
}

class TrustDialogTest : public TrustTest {
protected:
    std::map<std::string, std::string> environment() override {
        return {{"XDG_CONFIG_HOME", configHome.string()}};
    }
};

TEST_F(TrustDialogTest, TheDialogAsksOncePerOriginAndItsAnswerCounts) {
    SKIP_UNLESS_NATIVE();
    X11WindowProbe probe;
    if (!probe.available()) GTEST_SKIP() << "needs an X server";
    probe.onlyProcess(program->processId());
    client.disconnect();
    ASSERT_TRUE(program->waitForOutput("WS closed\n"));
    const auto oneDialog = [](const std::vector<WindowInfo>& found) { return found.size() == 1; };

    // Two pages of one origin: one dialog, and both wait for its answer.
    const std::string trusted = "https://allowed.example";
    auto first = std::async(std::launch::async, [&] { return refusalOf("", trusted); });
    ASSERT_TRUE(probe.waitFor(dialogTitle, oneDialog, 20000));
    auto second = std::async(std::launch::async, [&] { return refusalOf("", trusted); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(probe.waitFor(dialogTitle, oneDialog, 1000))
        << "a second dialog for the same origin";
    ASSERT_TRUE(probe.clickChild(probe.windowsTitled(dialogTitle)[0].id, "Allow"));
    // With one client at a time, one of them may still be turned away, but
    // not for its origin.
    const bool firstUpgraded = !first.get(), secondUpgraded = !second.get();
    EXPECT_TRUE(firstUpgraded || secondUpgraded);
    EXPECT_EQ(outputCount("WS refused origin " + trusted), 0);
    EXPECT_TRUE(probe.waitFor(dialogTitle,
                              [](const std::vector<WindowInfo>& found) { return found.empty(); }));
    EXPECT_NE(allowed().find(trusted + "\n"), std::string::npos);
    ASSERT_TRUE(program->waitForOutput("WS closed\n"));

    const std::string denied = "https://denied.example";
    auto refused = std::async(std::launch::async, [&] { return refusalOf("", denied); });
    ASSERT_TRUE(probe.waitFor(dialogTitle, oneDialog, 20000));
    ASSERT_TRUE(probe.clickChild(probe.windowsTitled(dialogTitle)[0].id, "Deny"));
    EXPECT_EQ(refused.get().value_or("accepted").rfind("HTTP/1.1 403", 0), 0u);
    // Denied until the program ends: refused again without asking.
    expectRefused("", denied, "WS refused origin " + denied);
    EXPECT_TRUE(probe.windowsTitled(dialogTitle).empty());
    EXPECT_EQ(allowed().find(denied), std::string::npos);
    ASSERT_TRUE(connectClient(client));
}
