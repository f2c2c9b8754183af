#include "platform/Logging.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>

#include "support/TestSupport.h"

using testsupport::CaptureStream;
using testsupport::TempDir;

TEST(Logging, AllSwitchesOffAtConstruction) {
    Logging log;
    EXPECT_FALSE(log.isSimLogging());
    EXPECT_FALSE(log.isEventLogging());
    EXPECT_FALSE(log.isTransLogging());
    EXPECT_FALSE(log.isTokenLogging());
    EXPECT_FALSE(log.isServerLogging());
    EXPECT_FALSE(log.isClientLogging());
    EXPECT_EQ(log.getLogDir(), ".");
}

TEST(Logging, MissingFolderLeavesEveryTraceOff) {
    TempDir dir;
    Logging log;
    log.setLogFolder(dir.file("Log"));
    CaptureStream out(std::cout);
    log.open();
    const std::string base = dir.file("Log");
    EXPECT_EQ(out.text(), base + "/sim.log*********** sim: could not open!!\n" + base +
                              "/trans.log*********** trans: could not open!!\n" + base +
                              "/server.log*********** server: could not open!!\n");
    EXPECT_FALSE(log.isSimLogging());
    EXPECT_FALSE(log.isTransLogging());
    EXPECT_FALSE(log.isServerLogging());
    EXPECT_FALSE(std::filesystem::exists(base));
}

TEST(Logging, OpenCreatesThreeFilesAndOnlyThose) {
    TempDir dir;
    Logging log;
    log.setLogFolder(dir.path().string());
    log.open();
    EXPECT_TRUE(log.isSimLogging());
    EXPECT_TRUE(log.isTransLogging());
    EXPECT_TRUE(log.isServerLogging());
    EXPECT_FALSE(log.isEventLogging());
    EXPECT_FALSE(log.isTokenLogging());
    EXPECT_FALSE(log.isClientLogging());
    EXPECT_TRUE(dir.exists("sim.log"));
    EXPECT_TRUE(dir.exists("trans.log"));
    EXPECT_TRUE(dir.exists("server.log"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              3);
}

TEST(Logging, ReopeningEmptiesTheFiles) {
    TempDir dir;
    Logging log;
    log.setLogFolder(dir.path().string());
    log.open();
    log.getSimLog() << "first run" << std::endl;
    log.getTransLog() << "first run" << std::endl;
    log.open();
    log.getSimLog() << "second" << std::endl;
    log.close();
    EXPECT_EQ(dir.read("sim.log"), "second\n");
    EXPECT_EQ(dir.read("trans.log"), "");
}

TEST(Logging, CloseTurnsSwitchesOffAndFlushes) {
    TempDir dir;
    Logging log;
    log.setLogFolder(dir.path().string());
    log.open();
    log.getTransLog() << "trace";
    log.close();
    EXPECT_FALSE(log.isSimLogging());
    EXPECT_FALSE(log.isTransLogging());
    EXPECT_FALSE(log.isServerLogging());
    EXPECT_EQ(dir.read("trans.log"), "trace");
}

TEST(Logging, LogIndexIsAppendedToEveryName) {
    TempDir dir;
    Logging log;
    log.setLogFolder(dir.path().string());
    log.setLogIndex(3);
    log.open();
    EXPECT_TRUE(dir.exists("sim3.log"));
    EXPECT_TRUE(dir.exists("trans3.log"));
    EXPECT_TRUE(dir.exists("server3.log"));
}

TEST(Logging, SettingTheFolderClosesOpenTraces) {
    TempDir dir;
    Logging log;
    log.setLogFolder(dir.path().string());
    log.open();
    log.setLogFolder("elsewhere");
    EXPECT_FALSE(log.isSimLogging());
    EXPECT_EQ(log.getLogDir(), "elsewhere");
}
