#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/http/HttpGet.h"
#include "tests/fakes/CFakeContentSite.h"

namespace vexa {
namespace {

using testing::CFakeContentSite;

struct CRecordingSink : platform::IHttpGetSink {
    int responses = 0;
    int status = 0;
    long long length = -5;
    std::string body;
    bool acceptStatus = true;
    bool OnResponse(int s, long long l) override {
        ++responses;
        status = s;
        length = l;
        return acceptStatus;
    }
    bool OnBody(const char* data, std::size_t size) override {
        body.append(data, size);
        return true;
    }
};

class HttpGetTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        setenv("no_proxy", "127.0.0.1,localhost", 1);
        setenv("NO_PROXY", "127.0.0.1,localhost", 1);
    }
    void SetUp() override { ASSERT_TRUE(m_site.Start()); }
    CFakeContentSite m_site;
};

TEST_F(HttpGetTest, ReportsStatusStatedLengthAndFraming) {
    m_site.SetFile("/len", "12345");
    m_site.SetNoLength("/open", "abc");
    m_site.SetShortBody("/short", "ab", 10);
    m_site.SetFile("/empty", "");
    platform::HttpGetOptions options;

    CRecordingSink len, open, shortBody, empty;
    EXPECT_TRUE(platform::HttpGet(m_site.BaseUrl() + "len", options, len));
    EXPECT_TRUE(platform::HttpGet(m_site.BaseUrl() + "open", options, open));
    platform::HttpGetFailure failure = platform::HttpGetFailure::kNoAnswer;
    EXPECT_FALSE(platform::HttpGet(m_site.BaseUrl() + "short", options, shortBody, &failure));
    EXPECT_EQ(failure, platform::HttpGetFailure::kBroken) << "the site did answer";
    EXPECT_TRUE(platform::HttpGet(m_site.BaseUrl() + "empty", options, empty, &failure));
    EXPECT_EQ(failure, platform::HttpGetFailure::kNone);

    EXPECT_EQ(len.status, 200);
    EXPECT_EQ(len.length, 5);
    EXPECT_EQ(len.body, "12345");
    EXPECT_EQ(open.length, -1);
    EXPECT_EQ(open.body, "abc");
    EXPECT_EQ(shortBody.length, 10);
    EXPECT_EQ(shortBody.body, "ab");
    EXPECT_EQ(empty.responses, 1);
    EXPECT_EQ(empty.length, 0);
}

TEST_F(HttpGetTest, SinkThatDeclinesTheResponseGetsNoBody) {
    m_site.SetNotFound("/missing");
    CRecordingSink sink;
    sink.acceptStatus = false;
    platform::HttpGetFailure failure = platform::HttpGetFailure::kNone;
    EXPECT_FALSE(platform::HttpGet(m_site.BaseUrl() + "missing", {}, sink, &failure));
    EXPECT_EQ(failure, platform::HttpGetFailure::kBroken);
    EXPECT_EQ(sink.responses, 1);
    EXPECT_EQ(sink.status, 404);
    EXPECT_EQ(sink.body, "");
}

TEST_F(HttpGetTest, SiteThatGoesQuietIsGivenUpAfterTheStallTimeAndNotAskedTwice) {
    m_site.SetFile("/quiet", "late");
    m_site.SetDelay("/quiet", 20000);
    platform::HttpGetOptions options;
    options.stallTimeoutMs = 1000;
    CRecordingSink sink;
    platform::HttpGetFailure failure = platform::HttpGetFailure::kNone;
    EXPECT_FALSE(platform::HttpGet(m_site.BaseUrl() + "quiet", options, sink, &failure));
    EXPECT_EQ(sink.responses, 0);
    EXPECT_EQ(failure, platform::HttpGetFailure::kNoAnswer);
    EXPECT_EQ(m_site.CountOf("/quiet"), 1u);
}

// A site that keeps its connections open (HTTP/1.1) and serves them one at a time: it counts the
// connections it took and closes one after `closeAfter` answers on it.
class CKeepAliveSite {
  public:
    explicit CKeepAliveSite(int closeAfter) : m_closeAfter(closeAfter) {
        m_listen = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_listen, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        listen(m_listen, 8);
        socklen_t len = sizeof sa;
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&sa), &len);
        m_port = ntohs(sa.sin_port);
        m_thread = std::thread([this] { Run(); });
    }
    ~CKeepAliveSite() {
        m_stop = true;
        m_thread.join();
        close(m_listen);
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/f"; }
    std::atomic<int> connections{0};
    std::atomic<int> closedByClient{0};

  private:
    // Waits for fd to become readable, giving up when the test ends.
    bool WaitReadable(int fd) {
        pollfd p{fd, POLLIN, 0};
        while (!m_stop)
            if (poll(&p, 1, 50) > 0) return true;
        return false;
    }
    void Run() {
        while (WaitReadable(m_listen)) {
            int fd = accept(m_listen, nullptr, nullptr);
            if (fd < 0) continue;
            ++connections;
            std::string pending;
            char buf[4096];
            int answered = 0;
            while (answered < m_closeAfter && WaitReadable(fd)) {
                long n = read(fd, buf, sizeof buf);
                if (n <= 0) {
                    ++closedByClient;
                    break;
                }
                pending.append(buf, static_cast<std::size_t>(n));
                for (std::size_t end; (end = pending.find("\r\n\r\n")) != std::string::npos;) {
                    pending.erase(0, end + 4);
                    static const char reply[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
                    (void)!write(fd, reply, sizeof reply - 1);
                    ++answered;
                }
            }
            close(fd);
        }
    }
    int m_closeAfter;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

TEST(HttpGetConnections, LaterFetchesReuseTheConnectionUntilTheSiteOrTheProgramClosesIt) {
    setenv("no_proxy", "127.0.0.1,localhost", 1);
    CKeepAliveSite site(4);
    auto fetch = [&site] {
        CRecordingSink sink;
        return platform::HttpGet(site.Url(), {}, sink) && sink.body == "ok";
    };
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(fetch()) << i;
    EXPECT_EQ(site.connections.load(), 1);
    // The site closed that connection after its fourth answer: the next fetch notices and
    // connects anew instead of failing.
    EXPECT_TRUE(fetch());
    EXPECT_EQ(site.connections.load(), 2);
    platform::HttpGetDropIdleConnections();
    for (int i = 0; i < 100 && site.closedByClient.load() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(site.closedByClient.load(), 1);
}

}  // namespace
}  // namespace vexa
