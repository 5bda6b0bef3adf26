// Start-up and shutdown of the whole program.
#include <sys/socket.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <csignal>

#include "HostFixture.h"

using namespace testing_support;

namespace {

std::map<std::string, std::string> headless() {
    return headlessEnvironment();
}

}  // namespace

TEST(ProcessTest, QuitEndsTheProgramWithStatusZero) {
    ProgramUnderTest program(headless());
    ASSERT_TRUE(program.start());
    WsClient client;
    ASSERT_TRUE(client.connect(program.port()));
    ASSERT_EQ(client.receiveText(), banner);
    ASSERT_TRUE(client.sendText("quit now"));
    EXPECT_EQ(program.waitExit(), 0);
}

TEST(ProcessTest, InterruptAndTerminateEndTheProgramWithStatusZero) {
    SKIP_UNLESS_NATIVE();  // a Windows program has no such signals
    for (int number : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(number);
        ProgramUnderTest program(headless());
        ASSERT_TRUE(program.start());
        WsClient client;
        ASSERT_TRUE(client.connect(program.port()));  // a connected client must not hold it up
        ASSERT_EQ(client.receiveText(), banner);
        program.signal(number);
        EXPECT_EQ(program.waitExit(), 0);
    }
}

TEST(ProcessTest, APortInUseIsReportedAndEndsWithStatusOne) {
    const uint16_t port = ProgramUnderTest::freePort();
    const int blocker = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(blocker, 1), 0);

    ProgramUnderTest program(headless(), port);
    program.start(10000);  // it may print its first line before it tries to listen
    EXPECT_EQ(program.waitExit(), 1);
    EXPECT_NE(program.errors().find("cannot listen on 127.0.0.1:" + std::to_string(port)),
              std::string::npos)
        << program.errors();
    close(blocker);
}

TEST(ProcessTest, TheSecondOfTwoInstancesOnOnePortFails) {
    ProgramUnderTest first(headless());
    ASSERT_TRUE(first.start());
    ProgramUnderTest second(headless(), first.port());
    second.start(10000);
    EXPECT_EQ(second.waitExit(), 1);
    EXPECT_TRUE(first.running());
}
