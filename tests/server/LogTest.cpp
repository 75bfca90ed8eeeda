#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "server/CLog.h"
#include "tests/server/TestStateFolder.h"

namespace vexa {
namespace {

using testing::ReadRunLog;

class LogTest : public ::testing::Test {
  protected:
    void SetUp() override { log.DeleteLog(); }
    void TearDown() override { log.DeleteLog(); }
    CLog log;
};

TEST_F(LogTest, LineLayoutWithAndWithoutOperation) {
    EXPECT_EQ(1, log.WriteLog("bind(...) failure", "AcceptThread", 10048));
    EXPECT_EQ(1, log.WriteLog("No operation", nullptr, -5));
    std::string text = ReadRunLog();
    EXPECT_EQ(testing::TestStateHome() + "/quinbery/RunLog.log", CLog::LogPath());
    std::regex layout(
        "\\d{4}/\\d{2}/\\d{2}  \\d{2}:\\d{2}:\\d{2} - bind\\(\\.\\.\\.\\) failure\\.\\t"
        "\\[AcceptThread\\]\\t\\[10048\\]\\r\\n"
        "\\d{4}/\\d{2}/\\d{2}  \\d{2}:\\d{2}:\\d{2} - No operation\\.\\t\\[-5\\]\\r\\n");
    EXPECT_TRUE(std::regex_match(text, layout)) << text;
}

TEST_F(LogTest, EmptyMessageWritesNothingAndLoggingGoesOn) {
    EXPECT_EQ(0, log.WriteLog("", "Op", 1));
    EXPECT_EQ(0, log.WriteLog(nullptr, "Op", 1));
    EXPECT_EQ("", ReadRunLog());
    std::thread other([this] { EXPECT_EQ(1, log.WriteLog("after", "Op", 2)); });
    other.join();
    EXPECT_NE(std::string::npos, ReadRunLog().find(" - after.\t[Op]\t[2]\r\n"));
}

TEST_F(LogTest, ConcurrentWritersKeepLinesWhole) {
    constexpr int kLines = 300;
    CLog second;  // another logger object writes the same file
    auto writer = [kLines](CLog* l, const char* tag) {
        for (int i = 0; i < kLines; ++i) l->WriteLog(tag, "Writer", i);
    };
    std::thread a(writer, &log, "first writer's fairly long message text");
    std::thread b(writer, &second, "second");
    a.join();
    b.join();
    std::istringstream in(ReadRunLog());
    std::regex line(
        ".{20} - (first writer's fairly long message "
        "text|second)\\.\\t\\[Writer\\]\\t\\[\\d+\\]\\r");
    int count = 0;
    for (std::string l; std::getline(in, l); ++count) ASSERT_TRUE(std::regex_match(l, line)) << l;
    EXPECT_EQ(2 * kLines, count);
}

TEST_F(LogTest, DeleteStartsANewFileAndAnUnwritableFolderLosesTheLine) {
    ASSERT_EQ(1, log.WriteLog("old", "Op", 0));
    log.DeleteLog();
    EXPECT_EQ("", ReadRunLog());
    log.DeleteLog();  // no file: nothing happens
    ASSERT_EQ(1, log.WriteLog("new", "Op", 0));
    EXPECT_EQ(std::string::npos, ReadRunLog().find("old"));
    log.DeleteLog();

    // A folder in the way of the file makes the write fail without harm.
    ASSERT_EQ(0, mkdir(CLog::LogPath().c_str(), 0700));
    EXPECT_EQ(0, log.WriteLog("lost", "Op", 0));
    rmdir(CLog::LogPath().c_str());
}

}  // namespace
}  // namespace vexa
