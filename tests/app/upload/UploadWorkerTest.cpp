#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/UploadWorker.h"
#include "tests/fakes/CTestUiLoop.h"
#include "tests/fakes/CUploadSinkFake.h"

namespace vexa {
namespace {

namespace fs = std::filesystem;
using testing::CTestUiLoop;
using testing::CUploadSinkFake;

struct Done {
    std::uint32_t msg;
    std::uintptr_t wParam;
    std::intptr_t lParam;
};

class CDoneTarget : public platform::IMessageTarget {
  public:
    void OnMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) override {
        m_got.push_back({msg, wParam, lParam});
    }
    std::vector<Done> m_got;
};

// Knows when a worker's post has returned, so the loop is not destroyed under a worker thread
// that is still inside PostMessage.
class CCountingLoop : public CTestUiLoop {
  public:
    bool PostMessage(platform::WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                     std::intptr_t lParam) override {
        bool posted = CTestUiLoop::PostMessage(window, msg, wParam, lParam);
        ++m_returned;
        return posted;
    }
    std::atomic<std::size_t> m_returned{0};
};

TEST(UploadEndpoint, TypePicksThePath) {
    EXPECT_STREQ("/Upfile_en.ashx", UploadPathForType("1"));
    EXPECT_STREQ("/Upfile_mp.ashx", UploadPathForType("2"));
    EXPECT_STREQ("/Upfile_qz.ashx", UploadPathForType("3"));
    EXPECT_STREQ("/Upfile_mp.ashx", UploadPathForType("  +2"));
    EXPECT_STREQ("/Upfile_qz.ashx", UploadPathForType("3abc"));
    EXPECT_STREQ("/Upfile_en.ashx", UploadPathForType("1.9"));
    for (const char* other : {"0", "7", "-1", "abc", "", "4", "- 1", "-3"}) {
        EXPECT_STREQ("/Upfile.ashx", UploadPathForType(other)) << other;
    }
    // A number beyond an int must not wrap round to 1, 2 or 3.
    EXPECT_STREQ("/Upfile.ashx", UploadPathForType("4294967297"));
    EXPECT_STREQ("/Upfile.ashx", UploadPathForType("-4294967295"));
    EXPECT_STREQ("/Upfile.ashx", UploadPathForType("99999999999999999999999999"));
}

class UploadWorkerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_state = fs::temp_directory_path() / ("vexa-upload-" + std::to_string(::getpid()));
        fs::create_directories(m_state);
        ::setenv("XDG_STATE_HOME", m_state.c_str(), 1);
        // The client honours the environment's proxy; the sink is reached directly.
        for (const char* proxy :
             {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            ::unsetenv(proxy);
        ::setenv("VEXA_UPLOAD_HOST", m_sink.HostPort().c_str(), 1);
        m_window = m_loop.AddTarget(&m_target);
    }
    void TearDown() override {
        m_loop.RemoveTarget(m_window);
        ::unsetenv("VEXA_UPLOAD_HOST");
        ::unsetenv("VEXA_TLS_CA_FILE");
        fs::remove_all(m_state);
    }
    // Delivers posts until n done messages have come, for at most 10 s.
    void WaitForDone(std::size_t n) {
        for (int i = 0; i < 100 && m_target.m_got.size() < n; ++i) m_loop.WaitForPosts(100);
        ASSERT_EQ(n, m_target.m_got.size());
        for (int i = 0; i < 1000 && m_loop.m_returned < n; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        for (const Done& d : m_target.m_got) {
            EXPECT_EQ(WM_UPLOAD_DONE, d.msg);
            EXPECT_EQ(1u, d.wParam);
            EXPECT_EQ(0, d.lParam);
        }
    }
    UploadParams Record(const std::string& uid, const std::string& tid, const std::string& type) {
        UploadParams p;
        p.uid = uid;
        p.tid = tid;
        p.type = type;
        p.hWnd = m_window;
        return p;
    }

    CCountingLoop m_loop;
    CDoneTarget m_target;
    platform::WindowHandle m_window = 0;
    CUploadSinkFake m_sink;
    fs::path m_state;
};

TEST_F(UploadWorkerTest, SendsTheRecordingWithBothIdsThenReportsDone) {
    std::string mp3 = std::string("ID3\x03\0\0", 6) + std::string(5000, '\xff');
    ASSERT_EQ((m_state / "quinbery" / "test.mp3").string(), UploadFilePath());
    std::ofstream(UploadFilePath(), std::ios::binary) << mp3;

    StartUploadWorker(Record("7", "12", "1"));
    WaitForDone(1);
    auto got = m_sink.Requests();
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ("/Upfile_en.ashx", got[0].path);
    EXPECT_EQ("7", got[0].Field("uid"));
    EXPECT_EQ("12", got[0].Field("tid"));
    const std::string fileHead =
        "Content-Disposition: form-data; name=\"txtfile\"; filename=\"test.mp3\"\r\n"
        "Content-Type: application/octet-stream\r\n\r\n";
    std::size_t at = got[0].body.find(fileHead);
    ASSERT_NE(std::string::npos, at);
    EXPECT_EQ(mp3 + "\r\n\r\n--", got[0].body.substr(at + fileHead.size(), mp3.size() + 6));
    EXPECT_LT(got[0].body.find("name=\"uid\""), got[0].body.find("name=\"tid\""));
}

TEST_F(UploadWorkerTest, WithoutARecordingOnlyTheFieldsGo) {
    StartUploadWorker(Record("u", "t", "abc"));
    WaitForDone(1);
    auto got = m_sink.Requests();
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ("/Upfile.ashx", got[0].path);
    EXPECT_EQ("u", got[0].Field("uid"));
    EXPECT_EQ("t", got[0].Field("tid"));
    EXPECT_EQ(std::string::npos, got[0].body.find("filename="));
    EXPECT_EQ(got[0].announcedLength, got[0].body.size());
}

TEST_F(UploadWorkerTest, FailedUploadStillReportsDone) {
    int port;
    {
        CUploadSinkFake gone;
        port = gone.Port();
    }
    ::setenv("VEXA_UPLOAD_HOST", ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
    StartUploadWorker(Record("1", "2", "3"));
    WaitForDone(1);
}

TEST_F(UploadWorkerTest, HttpsUploadReachesOnlyATrustedSinkAndReportsDoneEitherWay) {
    auto trusted = CUploadSinkFake::MakeIdentity(m_state.string(), "trusted", "IP:127.0.0.1");
    auto stranger = CUploadSinkFake::MakeIdentity(m_state.string(), "stranger", "IP:127.0.0.1");
    ASSERT_FALSE(trusted.certFile.empty() || stranger.certFile.empty());
    ::setenv("VEXA_TLS_CA_FILE", trusted.certFile.c_str(), 1);
    std::string mp3(70000, '\xfb');
    std::ofstream(UploadFilePath(), std::ios::binary) << mp3;
    CUploadSinkFake good(trusted), unknown(stranger);

    ::setenv("VEXA_UPLOAD_HOST", ("https://127.0.0.1:" + std::to_string(good.Port())).c_str(), 1);
    StartUploadWorker(Record("7", "12", "2"));
    WaitForDone(1);
    ASSERT_EQ(1u, good.Requests().size());
    EXPECT_EQ("/Upfile_mp.ashx", good.Requests()[0].path);
    EXPECT_NE(std::string::npos, good.Requests()[0].body.find(mp3 + "\r\n\r\n--"));

    ::setenv("VEXA_UPLOAD_HOST", ("https://127.0.0.1:" + std::to_string(unknown.Port())).c_str(),
             1);
    StartUploadWorker(Record("7", "13", "2"));
    WaitForDone(2);
    EXPECT_GE(unknown.Connections(), 1);
    EXPECT_TRUE(unknown.Requests().empty());
}

TEST_F(UploadWorkerTest, UploadsRunOneAtATimeEachOnItsOwnRecord) {
    m_sink.SetReplyDelayMs(300);
    UploadParams record = Record("first", "1", "2");
    StartUploadWorker(record);
    record.uid = "second";  // the running upload keeps the values it started with
    record.type = "3";
    StartUploadWorker(record);
    WaitForDone(2);
    auto got = m_sink.Requests();
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ(1, m_sink.MaxConcurrent());
    std::vector<std::string> seen;
    seen.reserve(got.size());
    for (const auto& r : got) seen.push_back(r.Field("uid") + " " + r.path);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ((std::vector<std::string>{"first /Upfile_mp.ashx", "second /Upfile_qz.ashx"}), seen);
}

}  // namespace
}  // namespace vexa
