#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>

#include "app/AppFolders.h"
#include "app/ContentUpkeep.h"
#include "tests/app/upkeep/UpkeepTestSupport.h"
#include "tests/fakes/CFakeContentSite.h"
#include "tests/server/download/TempFolder.h"

namespace vexa {
namespace {

using testing::CFakeContentSite;
using testing::CScopedEnv;
using testing::CTempFolder;
using testing::Listing;
using testing::ReadFile;
using testing::WriteFile;

class EncoderDownloadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_env.Set("no_proxy", "127.0.0.1,localhost");
        m_env.Set("NO_PROXY", "127.0.0.1,localhost");
        ASSERT_TRUE(m_site.Start());
        m_env.Set("VEXA_CONTENT_SITE", m_site.BaseUrl());
        m_savedExeFolder = g_exeFolder;
        g_exeFolder = m_exe.Path();
    }
    void TearDown() override { g_exeFolder = m_savedExeFolder; }

    // Starts the worker and waits for it (bounded); false when it did not start.
    bool RunWorker() {
        auto finished = std::make_shared<std::promise<void>>();
        std::future<void> done = finished->get_future();
        if (!StartEncoderDownloadIfMissing([finished] { finished->set_value(); })) return false;
        EXPECT_EQ(done.wait_for(std::chrono::seconds(30)), std::future_status::ready);
        return true;
    }

    CScopedEnv m_env;
    CFakeContentSite m_site;
    CTempFolder m_exe;
    std::string m_savedExeFolder;
};

TEST_F(EncoderDownloadTest, PresentLibraryStartsNoDownload) {
    WriteFile(m_exe / "liblame_enc.so", "installed");
    m_site.SetFile("/liblame_enc.so", "from the site");
    EXPECT_FALSE(StartEncoderDownloadIfMissing());
    EXPECT_TRUE(m_site.Requests().empty());
    EXPECT_EQ(ReadFile(m_exe / "liblame_enc.so"), "installed");
}

TEST_F(EncoderDownloadTest, UnknownExecutableFolderFetchesNothing) {
    m_site.SetFile("/liblame_enc.so", "from the site");
    g_exeFolder.clear();
    EXPECT_FALSE(StartEncoderDownloadIfMissing());
    EXPECT_EQ(EncoderDownloadThreadProc(nullptr), 1u);
    EXPECT_TRUE(m_site.Requests().empty());
}

TEST_F(EncoderDownloadTest, MissingLibraryIsFetchedWithoutBlockingTheCaller) {
    const std::string library(200000, '\x7f');
    m_site.SetFile("/liblame_enc.so", library);
    // Held back until the caller has seen the start return.
    m_site.SetDelay("/liblame_enc.so", 800);
    auto finished = std::make_shared<std::promise<void>>();
    std::future<void> done = finished->get_future();

    ASSERT_TRUE(StartEncoderDownloadIfMissing([finished] { finished->set_value(); }));
    EXPECT_EQ(done.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    EXPECT_FALSE(testing::ReadFile(m_exe / "liblame_enc.so") == library);

    ASSERT_EQ(done.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(ReadFile(m_exe / "liblame_enc.so"), library);
    EXPECT_EQ(m_site.Paths(), std::vector<std::string>{"/liblame_enc.so"});
}

TEST_F(EncoderDownloadTest, FailedDownloadLeavesNothingAndTheNextStartTriesAgain) {
    m_site.SetNotFound("/liblame_enc.so");
    ASSERT_TRUE(RunWorker());
    EXPECT_EQ(Listing(m_exe.Path()), "");

    m_site.SetFile("/liblame_enc.so", "encoder");
    ASSERT_TRUE(RunWorker());
    EXPECT_EQ(ReadFile(m_exe / "liblame_enc.so"), "encoder");
    EXPECT_FALSE(RunWorker());
    EXPECT_EQ(m_site.CountOf("/liblame_enc.so"), 2u);
    EXPECT_EQ(EncoderDownloadThreadProc(nullptr), 1u);
}

}  // namespace
}  // namespace vexa
