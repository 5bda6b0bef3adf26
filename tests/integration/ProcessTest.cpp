// Start-up and shutdown of the whole program.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

#include "HostFixture.h"

using namespace testing_support;

TEST(ProcessTest, QuitInterruptAndTerminateEndTheProgramWithStatusZero) {
    // 0 stands for "quit"; a Windows program has no such signals.
    for (int ending : {0, SIGINT, SIGTERM}) {
        SCOPED_TRACE(ending);
        if (ending != 0 && !ProgramUnderTest::isNative()) continue;
        ProgramUnderTest program(headlessEnvironment());
        ASSERT_TRUE(program.start());
        WsClient client;
        ASSERT_TRUE(client.connect(program.port()));  // a connected client must not hold it up
        ASSERT_EQ(client.receiveText(), banner);
        if (ending == 0) ASSERT_TRUE(client.sendText("quit now"));
        else program.signal(ending);
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
    ProgramUnderTest program(headlessEnvironment(), port);
    program.start(10000);  // it may print its first line before it tries to listen
    EXPECT_EQ(program.waitExit(), 1);
    EXPECT_NE(program.errors().find("cannot listen on 127.0.0.1:" + std::to_string(port)), std::string::npos)
        << program.errors();
    close(blocker);

    // The same for a second instance of the program itself.
    ProgramUnderTest first(headlessEnvironment());
    ASSERT_TRUE(first.start());
    ProgramUnderTest second(headlessEnvironment(), first.port());
    second.start(10000);
    EXPECT_EQ(second.waitExit(), 1);
    EXPECT_TRUE(first.running());
}
