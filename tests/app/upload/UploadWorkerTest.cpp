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

#include "app/CUploadOutbox.h"
#include "app/UploadWorker.h"
#include "server/CLog.h"
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
        // A resend round must not lose its folder under it.
        for (int i = 0; i < 20000 && OutboxResendRunning(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
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

    static std::string ReadAll(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static std::size_t Count(const std::string& text, const std::string& part) {
        std::size_t n = 0;
        for (std::size_t at = text.find(part); at != std::string::npos;
             at = text.find(part, at + 1))
            ++n;
        return n;
    }
    std::string RunLog() const { return ReadAll(CLog::LogPath()); }
    // Made after SetUp has pointed the state folder at the test's own.
    static CUploadOutbox Outbox() { return CUploadOutbox(CUploadOutbox::DefaultFolder()); }
    void CloseTheSink() {
        int port;
        {
            CUploadSinkFake gone;
            port = gone.Port();
        }
        ::setenv("VEXA_UPLOAD_HOST", ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
    }
    void WriteRecording(const std::string& bytes) {
        std::ofstream(UploadFilePath(), std::ios::binary | std::ios::trunc) << bytes;
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

TEST_F(UploadWorkerTest, AnUnansweredUploadIsKeptAndTheMovieStillHearsOnce) {
    CloseTheSink();
    std::string mp3 = std::string("ID3\x03\0\n", 6) + std::string(3000, '\x5a');
    WriteRecording(mp3);
    StartUploadWorker(Record("u\r\n7", "t\"12", "2"));
    WaitForDone(1);
    // Without a recording there is nothing worth keeping.
    fs::remove(UploadFilePath());
    StartUploadWorker(Record("8", "13", "1"));
    WaitForDone(2);

    std::vector<std::string> waiting = Outbox().List();
    ASSERT_EQ(1u, waiting.size());
    CUploadOutbox::Entry entry;
    std::string why;
    ASSERT_TRUE(Outbox().Load(waiting[0], entry, why)) << why;
    EXPECT_EQ("/Upfile_mp.ashx", entry.urlPath);
    EXPECT_EQ("u\r\n7", entry.uid);
    EXPECT_EQ("t\"12", entry.tid);
    EXPECT_EQ("test.mp3", fs::path(entry.filePath).filename());
    EXPECT_EQ(mp3, ReadAll(entry.filePath));
    EXPECT_EQ(1u, Count(RunLog(), "kept in the outbox as " + waiting[0])) << RunLog();
}

TEST_F(UploadWorkerTest, AKeptUploadWaitsForA2xxThenArrivesByteForByte) {
    m_sink.SetStatus(500);
    std::string mp3 = std::string("ID3\x04\0\0", 6) + std::string(70000, '\x33');
    WriteRecording(mp3);
    StartUploadWorker(Record("7", "12", "3"));
    WaitForDone(1);
    ASSERT_EQ(1u, Outbox().List().size());
    // What is kept is what went out, not whatever the next recording left in the file.
    WriteRecording("a newer recording");

    ResendOutbox(CUploadOutbox::DefaultFolder());
    ASSERT_EQ(2u, m_sink.Requests().size());
    ASSERT_EQ(1u, Outbox().List().size()) << "a 500 answer dropped the entry";
    std::string name = Outbox().List()[0];
    EXPECT_EQ(1u, Count(RunLog(), "Outbox entry " + name + " not taken, kept")) << RunLog();

    m_sink.SetStatus(200);
    ResendOutbox(CUploadOutbox::DefaultFolder());
    auto got = m_sink.Requests();
    ASSERT_EQ(3u, got.size());
    EXPECT_TRUE(Outbox().List().empty());
    EXPECT_EQ(1u, Count(RunLog(), "Outbox entry " + name + " sent to /Upfile_qz.ashx"));
    for (std::size_t i = 1; i < got.size(); ++i) {
        EXPECT_EQ(got[0].path, got[i].path);
        EXPECT_EQ(got[0].Header("Content-Type"), got[i].Header("Content-Type"));
        EXPECT_EQ(got[0].announcedLength, got[i].announcedLength);
        EXPECT_TRUE(got[0].body == got[i].body) << "resend " << i << " differs";
    }
    EXPECT_NE(std::string::npos, got[2].body.find(mp3));
    // Nothing is left to send.
    ResendOutbox(CUploadOutbox::DefaultFolder());
    EXPECT_EQ(3u, m_sink.Requests().size());
}

TEST_F(UploadWorkerTest, WaitingEntriesGoOldestFirstAndNeverBesideALiveUpload) {
    m_sink.SetStatus(404);
    for (const char* uid : {"a", "b", "c"}) {
        WriteRecording(std::string("mp3 of ") + uid);
        StartUploadWorker(Record(uid, "1", "0"));
        WaitForDone(m_target.m_got.size() + 1);
    }
    ASSERT_EQ(3u, Outbox().List().size());
    m_sink.SetStatus(200);
    m_sink.SetReplyDelayMs(150);
    // The start's round and a live upload at the same time; the live one's answer asks for
    // another round, which finds nothing left.
    StartOutboxResend();
    WriteRecording("live mp3");
    StartUploadWorker(Record("live", "2", "0"));
    WaitForDone(4);
    for (int i = 0; i < 10000 && (OutboxResendRunning() || !Outbox().List().empty()); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(Outbox().List().empty());
    auto got = m_sink.Requests();
    ASSERT_EQ(7u, got.size());
    std::string resent;
    for (std::size_t i = 3; i < got.size(); ++i)
        if (got[i].Field("uid") != "live") resent += got[i].Field("uid");
    EXPECT_EQ("abc", resent);
    EXPECT_EQ(1, m_sink.MaxConcurrent());
    EXPECT_EQ(4u, m_target.m_got.size()) << "a resend told the movie";
}

TEST_F(UploadWorkerTest, TheBoundsDropTheOldestWithALogLine) {
    fs::path recording = m_state / "rec.mp3";
    std::ofstream(recording, std::ios::binary) << "x";
    std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    std::int64_t clock = now - CUploadOutbox::kMaxAgeMs - 60000;
    CUploadOutbox outbox(CUploadOutbox::DefaultFolder());
    outbox.SetClock([&] { return clock; });
    auto keep = [&](const std::string& uid) {
        CUploadOutbox::Entry staged;
        ASSERT_EQ(CUploadOutbox::StageResult::Staged,
                  outbox.Stage("/Upfile.ashx", uid, "t", recording.string(), staged));
        ASSERT_TRUE(outbox.Keep(staged, 0));
    };
    keep("old");
    std::string old = outbox.List().at(0);
    clock = now;
    for (std::size_t i = 0; i <= CUploadOutbox::kMaxEntries; ++i) {
        ++clock;
        keep(std::to_string(i));
    }
    std::vector<std::string> left = outbox.List();
    ASSERT_EQ(CUploadOutbox::kMaxEntries, left.size());
    CUploadOutbox::Entry first;
    std::string why;
    ASSERT_TRUE(outbox.Load(left[0], first, why));
    EXPECT_EQ("1", first.uid);
    std::string log = RunLog();
    EXPECT_EQ(1u, Count(log, "Outbox entry " + old + " dropped: older than 14 days")) << log;
    EXPECT_EQ(1u, Count(log, "dropped: more than 50 waiting")) << log;
}

TEST_F(UploadWorkerTest, UnfinishedAndDamagedEntriesAreMovedAsideNotSent) {
    fs::path recording = m_state / "test.mp3";
    std::ofstream(recording, std::ios::binary) << std::string(4000, 'r');
    CUploadOutbox::Entry unfinished, truncated, good;
    // A kill between the copy and the attempt's end leaves the staged copy behind.
    ASSERT_EQ(CUploadOutbox::StageResult::Staged,
              Outbox().Stage("/Upfile.ashx", "unfinished", "1", recording.string(), unfinished));
    ASSERT_EQ(CUploadOutbox::StageResult::Staged,
              Outbox().Stage("/Upfile.ashx", "truncated", "1", recording.string(), truncated));
    ASSERT_TRUE(Outbox().Keep(truncated, 500));
    fs::resize_file(fs::path(CUploadOutbox::DefaultFolder()) / truncated.name / "test.mp3", 1000);
    ASSERT_EQ(CUploadOutbox::StageResult::Staged,
              Outbox().Stage("/Upfile.ashx", "good", "1", recording.string(), good));
    ASSERT_TRUE(Outbox().Keep(good, 500));

    ResendOutbox(CUploadOutbox::DefaultFolder());
    ResendOutbox(CUploadOutbox::DefaultFolder());
    auto got = m_sink.Requests();
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ("good", got[0].Field("uid"));
    EXPECT_TRUE(Outbox().List().empty());
    fs::path damaged = fs::path(CUploadOutbox::DefaultFolder()) / "damaged";
    EXPECT_TRUE(fs::exists(damaged / unfinished.name / "test.mp3"));
    EXPECT_TRUE(fs::exists(damaged / truncated.name / "test.mp3"));
    std::string log = RunLog();
    EXPECT_EQ(1u, Count(log, "left unfinished, moved aside")) << log;
    EXPECT_EQ(1u, Count(log, "recording has 1000 bytes, not 4000, moved aside")) << log;
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
