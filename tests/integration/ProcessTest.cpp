// Start-up and shutdown of the whole program.
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

TEST(ProcessTest, ASecondInstanceOnTheSamePortReportsItAndEndsWithStatusOne) {
    ProgramUnderTest first(headlessEnvironment());
    ASSERT_TRUE(first.start());
    ProgramUnderTest second(headlessEnvironment(), first.port());
    second.start(10000);  // it may print its first line before it tries to listen
    EXPECT_EQ(second.waitExit(), 1);
    EXPECT_NE(second.errors().find("cannot listen on 127.0.0.1:" + std::to_string(first.port())),
              std::string::npos)
        << second.errors();
    EXPECT_TRUE(first.running());
}
