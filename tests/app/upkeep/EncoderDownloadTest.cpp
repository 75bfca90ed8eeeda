#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <string>

#include "app/AppFolders.h"
#include "app/ContentUpkeep.h"
#include "lame_enc/EncoderLibraryDigest.h"
#include "platform/dynlib/DynamicLibrary.h"
#include "platform/dynlib/FileDigest.h"
#include "server/CLog.h"
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

// A program in <root>/bin with its installed library folder <root>/lib/vexa, and the per-user
// library folder <root>/data/quinbery.
class EncoderDownloadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_env.Set("no_proxy", "127.0.0.1,localhost");
        m_env.Set("NO_PROXY", "127.0.0.1,localhost");
        ASSERT_TRUE(m_site.Start());
        m_env.Set("VEXA_CONTENT_SITE", m_site.BaseUrl());
        m_env.Set("XDG_DATA_HOME", m_root / "data");
        m_env.Set("XDG_STATE_HOME", m_root / "state");
        std::filesystem::create_directories(m_bin);
        m_savedExeFolder = g_exeFolder;
        g_exeFolder = m_bin;
    }
    void TearDown() override {
        g_exeFolder = m_savedExeFolder;
        platform::SetDynamicLibraryFolder("");
    }

    // Starts the worker and waits for it (bounded); false when it did not start.
    bool RunWorker(const std::string& expectedSha256) {
        auto finished = std::make_shared<std::promise<void>>();
        std::future<void> done = finished->get_future();
        if (!StartEncoderDownloadIfMissing([finished] { finished->set_value(); }, expectedSha256))
            return false;
        EXPECT_EQ(done.wait_for(std::chrono::seconds(30)), std::future_status::ready);
        return true;
    }
    std::string Sha256Of(const std::string& bytes) {
        WriteFile(m_root / "digest-input", bytes);
        return platform::FileSha256(m_root / "digest-input");
    }
    void PutInUserFolder(const std::string& bytes) {
        std::filesystem::create_directories(m_user);
        WriteFile(m_user + "/liblame_enc.so", bytes);
    }

    CScopedEnv m_env;
    CFakeContentSite m_site;
    CTempFolder m_root;
    const std::string m_bin = m_root / "bin";
    const std::string m_user = m_root / "data/quinbery";
    std::string m_savedExeFolder;
};

TEST_F(EncoderDownloadTest, AnInstalledOrVerifiedLibraryStartsNoDownload) {
    m_site.SetFile("/liblame_enc.so", "from the site");
    const std::string digest = Sha256Of("installed");
    for (const std::string& folder : {m_bin, m_root / "lib/vexa", m_user}) {
        std::filesystem::create_directories(folder);
        WriteFile(folder + "/liblame_enc.so", "installed");
        EXPECT_FALSE(StartEncoderDownloadIfMissing({}, digest)) << folder;
        EXPECT_EQ(ReadFile(folder + "/liblame_enc.so"), "installed");
        std::filesystem::remove(folder + "/liblame_enc.so");
    }
    EXPECT_TRUE(m_site.Requests().empty());
}

TEST_F(EncoderDownloadTest, UnknownExecutableFolderFetchesNothing) {
    m_site.SetFile("/liblame_enc.so", "from the site");
    g_exeFolder.clear();
    EXPECT_FALSE(StartEncoderDownloadIfMissing({}, Sha256Of("from the site")));
    EXPECT_TRUE(m_site.Requests().empty());
}

TEST_F(EncoderDownloadTest, MissingLibraryIsFetchedWithoutBlockingTheCaller) {
    const std::string library(200000, '\x7f');
    m_site.SetFile("/liblame_enc.so", library);
    // Held back until the caller has seen the start return.
    m_site.SetDelay("/liblame_enc.so", 800);
    auto finished = std::make_shared<std::promise<void>>();
    std::future<void> done = finished->get_future();

    ASSERT_TRUE(
        StartEncoderDownloadIfMissing([finished] { finished->set_value(); }, Sha256Of(library)));
    EXPECT_EQ(done.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    EXPECT_FALSE(ReadFile(m_user + "/liblame_enc.so") == library);

    ASSERT_EQ(done.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(ReadFile(m_user + "/liblame_enc.so"), library);
    EXPECT_EQ(Listing(m_user), "liblame_enc.so");
    EXPECT_EQ(Listing(m_bin), "");
    EXPECT_EQ(m_site.Paths(), std::vector<std::string>{"/liblame_enc.so"});
}

TEST_F(EncoderDownloadTest, FailedDownloadLeavesNothingAndTheNextStartTriesAgain) {
    const std::string digest = Sha256Of("encoder");
    m_site.SetNotFound("/liblame_enc.so");
    ASSERT_TRUE(RunWorker(digest));
    EXPECT_EQ(Listing(m_user), "");

    m_site.SetFile("/liblame_enc.so", "encoder");
    ASSERT_TRUE(RunWorker(digest));
    EXPECT_EQ(ReadFile(m_user + "/liblame_enc.so"), "encoder");
    EXPECT_FALSE(RunWorker(digest));
    EXPECT_EQ(m_site.CountOf("/liblame_enc.so"), 2u);
    EXPECT_EQ(EncoderDownloadThreadProc(nullptr), 1u);
}

TEST_F(EncoderDownloadTest, AFetchedLibraryWithAnotherDigestIsDiscardedAndLogged) {
    const std::string digest = Sha256Of("encoder");
    PutInUserFolder("an older build");
    m_site.SetFile("/liblame_enc.so", "tampered");
    ASSERT_TRUE(RunWorker(digest));
    // Nothing of what came is kept, not even under a temporary name.
    EXPECT_EQ(Listing(m_user), "liblame_enc.so");
    EXPECT_EQ(ReadFile(m_user + "/liblame_enc.so"), "an older build");
    std::string log = ReadFile(CLog::LogPath());
    EXPECT_NE(log.find("discarded: its SHA-256 is " + Sha256Of("tampered") +
                       ", this program was built with " + digest),
              std::string::npos)
        << log;

    // The copy of another build does not count: the next start fetches again and replaces it.
    m_site.SetFile("/liblame_enc.so", "encoder");
    ASSERT_TRUE(RunWorker(digest));
    EXPECT_EQ(ReadFile(m_user + "/liblame_enc.so"), "encoder");
    EXPECT_EQ(Listing(m_user), "liblame_enc.so");
}

TEST_F(EncoderDownloadTest, TheLibraryOfThisBuildIsKeptAndLoadedAnyOtherIsNot) {
    // The compiled-in digest is the default: what the site serves must be this build's library.
    m_site.SetFile("/liblame_enc.so", "not the build's library");
    EXPECT_EQ(EncoderDownloadThreadProc(nullptr), 1u);
    EXPECT_EQ(Listing(m_user), "");

    const std::string built = ReadFile(LAME_ENC_PATH);
    ASSERT_FALSE(built.empty());
    m_site.SetFile("/liblame_enc.so", built);
    EXPECT_EQ(EncoderDownloadThreadProc(nullptr), 1u);
    EXPECT_EQ(ReadFile(m_user + "/liblame_enc.so"), built);
    EXPECT_FALSE(StartEncoderDownloadIfMissing());

    platform::SetDynamicLibraryFolder(m_bin);
    platform::LibraryHandle library =
        platform::LoadDynamicLibrary("lame_enc", kEncoderLibrarySha256);
    EXPECT_NE(library, nullptr);
    EXPECT_NE(platform::GetLibrarySymbol(library, "beInitStream"), nullptr);
    platform::FreeDynamicLibrary(library);
}

}  // namespace
}  // namespace vexa
