#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "BuildConfig.h"
#include "server/DownloadHelpers.h"
#include "tests/fakes/CFakeContentSite.h"
#include "tests/fakes/CUploadSinkFake.h"
#include "tests/server/download/TempFolder.h"

namespace vexa {
namespace {

using testing::CFakeContentSite;
using testing::CTempFolder;
using testing::Listing;
using testing::ReadFile;
using testing::WriteFile;

class DownloadFileTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // A proxy of the machine running the tests must not stand between us and loopback.
        setenv("no_proxy", "127.0.0.1,localhost", 1);
        setenv("NO_PROXY", "127.0.0.1,localhost", 1);
    }
    void SetUp() override {
        ASSERT_FALSE(m_folder.Path().empty());
        ASSERT_TRUE(m_site.Start());
    }
    std::string Url(const std::string& path) const { return m_site.BaseUrl() + path; }

    CFakeContentSite m_site;
    CTempFolder m_folder;
};

TEST_F(DownloadFileTest, CompleteAnswerReplacesTheFileAndLeavesNoTemporaryBehind) {
    std::string body(300000, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 + 3);
    m_site.SetFile("/media/clip.bin", body);
    m_site.SetFile("/vexa.xml", "<config/>");
    WriteFile(m_folder / "vexa.xml", "old content that is longer than the new one");

    EXPECT_EQ(DownloadFile(Url("media/clip.bin"), m_folder / "clip.bin"), DownloadResult::kStored);
    DownloadFile(Url("vexa.xml"), m_folder / "vexa.xml");

    EXPECT_EQ(ReadFile(m_folder / "clip.bin"), body);
    EXPECT_EQ(ReadFile(m_folder / "vexa.xml"), "<config/>");
    EXPECT_EQ(Listing(m_folder.Path()), "clip.bin,vexa.xml");
    auto requests = m_site.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/media/clip.bin");
    EXPECT_NE(requests[0].head.find("User-Agent: " VEXA_PRODUCT_NAME "/" VEXA_VERSION),
              std::string::npos)
        << requests[0].head;
}

TEST_F(DownloadFileTest, HttpsSiteIsReadOnlyWithAVerifiedCertificate) {
    using testing::CUploadSinkFake;
    CTempFolder certs;
    auto trusted = CUploadSinkFake::MakeIdentity(certs.Path(), "trusted", "IP:127.0.0.1");
    auto stranger = CUploadSinkFake::MakeIdentity(certs.Path(), "stranger", "IP:127.0.0.1");
    auto misnamed = CUploadSinkFake::MakeIdentity(certs.Path(), "misnamed", "DNS:other.example");
    ASSERT_FALSE(trusted.certFile.empty() || stranger.certFile.empty() ||
                 misnamed.certFile.empty());
    WriteFile(certs / "ca.pem", ReadFile(trusted.certFile) + ReadFile(misnamed.certFile));
    setenv("VEXA_TLS_CA_FILE", (certs / "ca.pem").c_str(), 1);
    std::string body(100000, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 5 + 1);
    auto url = [](const CUploadSinkFake& site, const std::string& path) {
        return "https://127.0.0.1:" + std::to_string(site.Port()) + "/" + path;
    };

    CUploadSinkFake good(trusted);
    good.SetReplyBody(body);
    DownloadFile(url(good, "lesson1/pic.gif"), m_folder / "pic.gif");
    EXPECT_EQ(ReadFile(m_folder / "pic.gif"), body);
    ASSERT_EQ(good.Requests().size(), 1u);
    EXPECT_EQ(good.Requests()[0].path, "/lesson1/pic.gif");

    WriteFile(m_folder / "pic.gif", "kept");
    CUploadSinkFake unknown(stranger), otherName(misnamed);
    for (CUploadSinkFake* site : {&unknown, &otherName}) {
        site->SetReplyBody("forged");
        DownloadFile(url(*site, "pic.gif"), m_folder / "pic.gif");
        DownloadFile(url(*site, "new.gif"), m_folder / "new.gif");
        EXPECT_GE(site->Connections(), 1);
        EXPECT_TRUE(site->Requests().empty());
    }
    EXPECT_EQ(ReadFile(m_folder / "pic.gif"), "kept");
    EXPECT_EQ(Listing(m_folder.Path()), "pic.gif");
    unsetenv("VEXA_TLS_CA_FILE");
}

TEST_F(DownloadFileTest, ErrorStatusLeavesTheFileAsItWasAndCreatesNone) {
    m_site.SetNotFound("/a.mp3");
    CFakeContentSite::Answer failure;
    failure.status = 500;
    failure.body = "server trouble";
    m_site.SetAnswer("/b.mp3", failure);
    WriteFile(m_folder / "a.mp3", "kept");

    // An answer that is not stored still tells the site is there.
    EXPECT_EQ(DownloadFile(Url("a.mp3"), m_folder / "a.mp3"), DownloadResult::kNotStored);
    EXPECT_EQ(DownloadFile(Url("b.mp3"), m_folder / "b.mp3"), DownloadResult::kNotStored);
    DownloadFile(Url("unknown.mp3"), m_folder / "unknown.mp3");

    EXPECT_EQ(ReadFile(m_folder / "a.mp3"), "kept");
    EXPECT_EQ(Listing(m_folder.Path()), "a.mp3");
    EXPECT_EQ(m_site.Requests().size(), 3u);
}

TEST_F(DownloadFileTest, BodyCutShortOfItsStatedLengthLeavesTheFileAsItWas) {
    m_site.SetShortBody("/cut.swf", "only part", 5000);
    m_site.SetShortBody("/new.swf", "only part", 5000);
    WriteFile(m_folder / "cut.swf", "previous movie");

    DownloadFile(Url("cut.swf"), m_folder / "cut.swf");
    DownloadFile(Url("new.swf"), m_folder / "new.swf");

    EXPECT_EQ(ReadFile(m_folder / "cut.swf"), "previous movie");
    EXPECT_EQ(Listing(m_folder.Path()), "cut.swf");
}

TEST_F(DownloadFileTest, BodyWithoutLengthReplacesTheFileWithWhateverArrives) {
    m_site.SetNoLength("/stream.bin", "streamed until close");
    m_site.SetNoLength("/nothing.bin", "");
    m_site.SetFile("/zero.bin", "");
    WriteFile(m_folder / "stream.bin", "a much longer previous content of this file");
    WriteFile(m_folder / "nothing.bin", "previous");

    DownloadFile(Url("stream.bin"), m_folder / "stream.bin");
    DownloadFile(Url("nothing.bin"), m_folder / "nothing.bin");
    DownloadFile(Url("zero.bin"), m_folder / "zero.bin");

    EXPECT_EQ(ReadFile(m_folder / "stream.bin"), "streamed until close");
    EXPECT_EQ(ReadFile(m_folder / "nothing.bin"), "");
    ASSERT_TRUE(FileExists((m_folder / "zero.bin").c_str()));
    EXPECT_EQ(ReadFile(m_folder / "zero.bin"), "");
}

// The temporary file lives next to the target: a name near the file system's limit must still
// leave room for it.
TEST_F(DownloadFileTest, NameAtTheFileSystemsLimitIsStored) {
    const std::string name = std::string(250, 'n') + ".mp3";
    m_site.SetFile("/long.mp3", "long name");
    DownloadFile(Url("long.mp3"), m_folder / name);
    EXPECT_EQ(ReadFile(m_folder / name), "long name");
    EXPECT_EQ(Listing(m_folder.Path()), name);
}

TEST_F(DownloadFileTest, SlowAnswerArrivesWhole) {
    CFakeContentSite::Answer slow;
    slow.body = std::string(64 * 1024, 'z');
    slow.delayMs = 300;
    slow.chunkSize = 8 * 1024;
    slow.chunkDelayMs = 40;
    m_site.SetAnswer("/slow.bin", slow);
    m_site.SetNoLength("/slow-open.bin", "tail");
    m_site.SetDelay("/slow-open.bin", 300);

    DownloadFile(Url("slow.bin"), m_folder / "slow.bin");
    DownloadFile(Url("slow-open.bin"), m_folder / "slow-open.bin");

    EXPECT_EQ(ReadFile(m_folder / "slow.bin"), slow.body);
    EXPECT_EQ(ReadFile(m_folder / "slow-open.bin"), "tail");
}

TEST_F(DownloadFileTest, LimitsCutAnEndlessOrOversizedBodyButNotASlowSteadyLink) {
    struct SLimits {
        SLimits() {
            DownloadLimits small;
            small.maxBytes = 256 * 1024;
            small.slowWindowMs = 2000;
            SetDownloadLimits(small);
        }
        ~SLimits() { SetDownloadLimits(DownloadLimits()); }
    } limits;
    // 4 KiB/s for longer than the window, against the built-in minimum speed.
    CFakeContentSite::Answer steady;
    steady.body = std::string(12 * 1024, 's');
    steady.chunkSize = 512;
    steady.chunkDelayMs = 125;
    m_site.SetAnswer("/steady.bin", steady);
    // 100 B/s: never stalled, but slower than the minimum over the window.
    CFakeContentSite::Answer crawl;
    crawl.body = std::string(3000, 'c');
    crawl.chunkSize = 10;
    crawl.chunkDelayMs = 100;
    m_site.SetAnswer("/crawl.bin", crawl);
    m_site.SetFile("/big.bin", std::string(256 * 1024 + 1, 'b'));
    m_site.SetNoLength("/big-open.bin", std::string(256 * 1024 + 1, 'b'));
    m_site.SetNoLength("/fits.bin", std::string(256 * 1024, 'f'));
    m_site.SetMisbehaviour("/endless.bin", CFakeContentSite::Misbehaviour::kEndlessBody);

    for (const char* name :
         {"steady.bin", "crawl.bin", "big.bin", "big-open.bin", "fits.bin", "endless.bin"})
        DownloadFile(Url(name), m_folder / name);

    EXPECT_EQ(ReadFile(m_folder / "steady.bin"), steady.body);
    EXPECT_EQ(ReadFile(m_folder / "fits.bin").size(), 256u * 1024);
    EXPECT_EQ(Listing(m_folder.Path()), "fits.bin,steady.bin");
}

TEST_F(DownloadFileTest, NothingIsFetchedForAnEmptyLocalPathOrIntoAMissingFolder) {
    m_site.SetFile("/x.bin", "x");
    DownloadFile(Url("x.bin"), "");
    EXPECT_EQ(m_site.Requests().size(), 0u);

    DownloadFile(Url("x.bin"), m_folder / "no/such/folder/x.bin");
    EXPECT_FALSE(FileExists((m_folder / "no").c_str()));
}

TEST_F(DownloadFileTest, RefusedConnectionIsTriedOnceMoreAfterABreak) {
    int port = m_site.Port();
    m_site.Stop();
    CFakeContentSite late;
    late.SetFile("/late.bin", "came up late");
    // The first attempt is refused; the site is up before the second one a second later.
    std::thread starter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        late.Start(port);
    });
    DownloadFile("http://127.0.0.1:" + std::to_string(port) + "/late.bin", m_folder / "late.bin");
    starter.join();
    EXPECT_EQ(ReadFile(m_folder / "late.bin"), "came up late");
    EXPECT_EQ(late.CountOf("/late.bin"), 1u);
}

TEST_F(DownloadFileTest, UnreachableSiteLeavesNoFile) {
    int port = m_site.Port();
    m_site.Stop();
    EXPECT_EQ(
        DownloadFile("http://127.0.0.1:" + std::to_string(port) + "/x.bin", m_folder / "x.bin"),
        DownloadResult::kNoAnswer);
    DownloadFile("not a url at all", m_folder / "y.bin");
    EXPECT_EQ(Listing(m_folder.Path()), "");
}

// Two downloads of one path with different bodies, while a reader keeps looking at the file:
// every look sees one body whole, never a mix or a part.
TEST_F(DownloadFileTest, ConcurrentDownloadsOfOnePathNeverMixAndReadersSeeWholeFiles) {
    const std::string first(256 * 1024, 'a');
    const std::string second(256 * 1024, 'b');
    CFakeContentSite::Answer a;
    a.body = first;
    a.chunkSize = 16 * 1024;
    a.chunkDelayMs = 5;
    CFakeContentSite::Answer b = a;
    b.body = second;
    m_site.SetAnswer("/a.bin", a);
    m_site.SetAnswer("/b.bin", b);
    std::string target = m_folder / "movie.swf";
    WriteFile(target, first);

    std::atomic<bool> done{false};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        while (!done) {
            std::string seen = ReadFile(target);
            if (seen != first && seen != second) ++bad;
        }
    });
    for (int round = 0; round < 3; ++round) {
        std::thread t1([&] { DownloadFile(Url("a.bin"), target); });
        std::thread t2([&] { DownloadFile(Url("b.bin"), target); });
        t1.join();
        t2.join();
    }
    done = true;
    reader.join();

    std::string last = ReadFile(target);
    EXPECT_TRUE(last == first || last == second);
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(Listing(m_folder.Path()), "movie.swf");
}

}  // namespace
}  // namespace vexa
