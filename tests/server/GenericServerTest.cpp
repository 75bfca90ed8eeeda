#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "server/CGenericServer.h"
#include "tests/server/LoopbackClient.h"
#include "tests/server/TestStateFolder.h"

namespace vexa {
namespace {

using testing::CLoopbackClient;
using testing::ReadRunLog;

std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 23);
    return s;
}

// Requests end with "END\n". "CLOSE..." is refused, "KEEP..." keeps the connection,
// "BIG <n>..." answers n pattern bytes, anything else is echoed after "OK:".
class CTestServer : public CGenericServer {
  public:
    ~CTestServer() override { Shutdown(); }
    std::atomic<int> parses{0};
    std::atomic<int> connects{0};
    std::atomic<unsigned> lastSent{0};

  protected:
    int OnClientConnect(const char* address, int) override {
        if (std::string(address) == "127.0.0.1") ++connects;
        return 0;
    }
    int OnBytesSent(unsigned count) override {
        lastSent = count;
        return 0;
    }
    int IsRequestComplete(const std::string& r) override {
        return r.size() >= 4 && r.compare(r.size() - 4, 4, "END\n") == 0;
    }
    int ParseRequest(const std::string& r, std::string* reply, int* keepAlive) override {
        ++parses;
        if (r.rfind("CLOSE", 0) == 0) return 0;
        if (r.rfind("KEEP", 0) == 0) *keepAlive = 1;
        if (std::size_t at = r.find("BIG "); at != std::string::npos) {
            *reply = Pattern(std::strtoul(r.c_str() + at + 4, nullptr, 10));
            return 1;
        }
        *reply = "OK:" + r;
        return 1;
    }
};

class GenericServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server.DeleteLog();
        ASSERT_EQ(1, server.Run(0, 5000));
        port = server.ListenPort();
        ASSERT_GT(port, 0);
    }
    CTestServer server;
    int port = 0;
};

TEST_F(GenericServerTest, RequestGatheredAcrossReceivesIsParsedOnce) {
    CLoopbackClient c;
    ASSERT_TRUE(c.Connect(port));
    ASSERT_TRUE(c.Send("HEL"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(c.Send("LO EN"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(c.Send("D\n"));
    bool closed = false;
    EXPECT_EQ("OK:HELLO END\n", c.ReadUntilClose(5000, &closed));
    EXPECT_TRUE(closed) << "without keep-alive the reply ends the connection";
    EXPECT_EQ(1, server.parses.load());
    EXPECT_EQ(13u, server.lastSent.load());
    EXPECT_EQ(1, server.connects.load());
}

TEST_F(GenericServerTest, KeepAliveServesFurtherRequestsFromAnEmptyBuffer) {
    CLoopbackClient c;
    ASSERT_TRUE(c.Connect(port));
    for (int i = 0; i < 3; ++i) {
        std::string req = "KEEP " + std::to_string(i) + " END\n";
        ASSERT_TRUE(c.Send(req));
        EXPECT_EQ("OK:" + req, c.ReadExactly(3 + req.size(), 5000));
    }
    // The flag stays set for the connection's life, so a plain request is answered too.
    ASSERT_TRUE(c.Send("plain END\n"));
    EXPECT_EQ("OK:plain END\n", c.ReadExactly(13, 5000));
    EXPECT_FALSE(c.WaitClosed(200));
    EXPECT_EQ(4, server.parses.load());
}

TEST_F(GenericServerTest, RefusedRequestClosesWithoutReply) {
    CLoopbackClient c;
    ASSERT_TRUE(c.Connect(port));
    ASSERT_TRUE(c.Send("CLOSE END\n"));
    bool closed = false;
    EXPECT_EQ("", c.ReadUntilClose(5000, &closed));
    EXPECT_TRUE(closed);
}

TEST_F(GenericServerTest, LargeReplyIsFinishedWhenTheSocketDrains) {
    constexpr std::size_t kSize = 6 * 1000 * 1000;
    CLoopbackClient c;
    ASSERT_TRUE(c.Connect(port, 4096));
    ASSERT_TRUE(c.Send("BIG " + std::to_string(kSize) + " END\n"));
    // Let the server fill the socket and wait for writability.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    bool closed = false;
    std::string got = c.ReadUntilClose(20000, &closed);
    EXPECT_TRUE(closed);
    ASSERT_EQ(kSize, got.size());
    EXPECT_TRUE(got == Pattern(kSize)) << "bytes lost or repeated at a resume";
    EXPECT_EQ(kSize, server.lastSent.load());
}

TEST_F(GenericServerTest, OversizedPendingRequestIsDropped) {
    CLoopbackClient c;
    ASSERT_TRUE(c.Connect(port));
    c.Send(std::string(CGenericServer::kMaxPendingRequest + 1000, 'x'));
    bool closed = false;
    EXPECT_EQ("", c.ReadUntilClose(5000, &closed));
    EXPECT_TRUE(closed);
    EXPECT_EQ(0, server.parses.load());
}

TEST_F(GenericServerTest, PipelinedRequestWaitsForThePendingReply) {
    constexpr std::size_t kSize = 3 * 1000 * 1000;
    CLoopbackClient c;
    ASSERT_TRUE(c.Connect(port, 4096));
    ASSERT_TRUE(c.Send("KEEP BIG " + std::to_string(kSize) + " END\n"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_TRUE(c.Send("KEEP next END\n"));
    std::string first = c.ReadExactly(kSize, 20000);
    EXPECT_TRUE(first == Pattern(kSize)) << "the second request overwrote the pending reply";
    EXPECT_EQ("OK:KEEP next END\n", c.ReadExactly(17, 5000));
}

TEST_F(GenericServerTest, RunTwiceFailsAndLogs) {
    EXPECT_EQ(0, server.Run(0, 1000));
    EXPECT_TRUE(server.IsRunning());
    EXPECT_NE(std::string::npos,
              ReadRunLog().find(" - _beginthreadex(...) failure, for Launch Thread.\t[Run]\t["));
    // Still serving.
    CLoopbackClient c;
    ASSERT_TRUE(c.Connect(port));
    ASSERT_TRUE(c.Send("x END\n"));
    EXPECT_EQ("OK:x END\n", c.ReadUntilClose(5000));
}

TEST_F(GenericServerTest, ShutdownWithOpenConnectionsThenRunAgain) {
    std::vector<CLoopbackClient> clients(8);
    for (auto& c : clients) ASSERT_TRUE(c.Connect(port));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(1, server.Shutdown());
    EXPECT_FALSE(server.IsRunning());
    for (auto& c : clients) EXPECT_TRUE(c.WaitClosed(2000));
    EXPECT_EQ(0, server.Shutdown()) << "a second stop finds nothing running";

    ASSERT_EQ(1, server.Run(0, 1000));
    CLoopbackClient c;
    ASSERT_TRUE(c.Connect(server.ListenPort()));
    ASSERT_TRUE(c.Send("again END\n"));
    EXPECT_EQ("OK:again END\n", c.ReadUntilClose(5000));
}

TEST(GenericServerLifecycle, ShutdownOfAServerNeverRunReturnsZero) {
    CTestServer server;
    EXPECT_EQ(0, server.Shutdown());
}

TEST(GenericServerLifecycle, ClientTimeoutClosesAnIdleConnection) {
    CTestServer server;
    ASSERT_EQ(1, server.Run(0, 300));
    CLoopbackClient idle;
    ASSERT_TRUE(idle.Connect(server.ListenPort()));
    EXPECT_FALSE(idle.WaitClosed(100)) << "closed before its time-out";
    EXPECT_TRUE(idle.WaitClosed(5000));

    CTestServer patient;  // no time-out: open until the server stops
    ASSERT_EQ(1, patient.Run(0, 0));
    CLoopbackClient waiting;
    ASSERT_TRUE(waiting.Connect(patient.ListenPort()));
    EXPECT_FALSE(waiting.WaitClosed(700));
    EXPECT_EQ(1, patient.Shutdown());
    EXPECT_TRUE(waiting.WaitClosed(2000));
}

TEST(GenericServerLifecycle, TakenPortFailsAfterTheStartupTimeout) {
    CTestServer first;
    ASSERT_EQ(1, first.Run(0, 1000));
    first.DeleteLog();
    CTestServer second;
    second.SetStartupTimeoutMs(300);
    EXPECT_EQ(0, second.Run(first.ListenPort(), 1000));
    EXPECT_FALSE(second.IsRunning());
    std::string log = ReadRunLog();
    EXPECT_NE(std::string::npos, log.find(" - bind(...) failure.\t[AcceptThread]\t[98]\r\n"))
        << log;
    EXPECT_NE(std::string::npos,
              log.find(" - Unable to get response from Accept Thread withing specified Timeout "
                       "->.\t[Run]\t[300]\r\n"))
        << log;
    EXPECT_EQ(0, second.Shutdown());
}

// An accept thread held up in the derived class beyond the stop's wait is given up on; the stop
// still lets it leave the object first, so the object can go at once (the sanitizers watch).
TEST(GenericServerLifecycle, ServerThreadThatOverstaysTheStopIsGivenUpSafely) {
    class CSlowConnectServer : public CTestServer {
      public:
        std::atomic<bool> entered{false};

      protected:
        int OnClientConnect(const char* address, int port) override {
            entered = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            return CTestServer::OnClientConnect(address, port);
        }
    };
    auto server = std::make_unique<CSlowConnectServer>();
    server->DeleteLog();
    ASSERT_EQ(1, server->Run(0, 1000));
    CLoopbackClient c;
    ASSERT_TRUE(c.Connect(server->ListenPort()));
    while (!server->entered) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(0, server->Shutdown());
    EXPECT_FALSE(server->IsRunning());
    server.reset();
    EXPECT_TRUE(c.WaitClosed(3000));
    EXPECT_NE(std::string::npos,
              ReadRunLog().find(" - WaitForMultipleObjects(...) timed out.\t[Shutdown]\t[0]\r\n"));
    // The abandoned thread ends on its own; give it the moment it needs before the process ends.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

// Many clients at once, with and without keep-alive: every reply whole, no descriptor kept, and
// no thread left once the server stopped, idle ones waiting for a next connection included.
TEST(GenericServerLoad, ConcurrentClientsGetWholeRepliesAndNoDescriptorLeaks) {
    constexpr int kClients = 64;
    constexpr int kRequests = 20000;
    int before = testing::CountOpenDescriptors();
    // A sanitizer's own helper thread starts with the process's first thread; count after it.
    std::thread([] {}).join();
    int threadsBefore = testing::CountThreads();
    {
        CTestServer server;
        ASSERT_EQ(1, server.Run(0, 10000));
        int port = server.ListenPort();
        for (bool keepAlive : {true, false}) {
            std::atomic<int> good{0};
            std::atomic<int> bad{0};
            std::vector<std::thread> threads;
            threads.reserve(kClients);
            for (int t = 0; t < kClients; ++t) {
                threads.emplace_back([&, t] {
                    int mine = kRequests / kClients + (t < kRequests % kClients ? 1 : 0);
                    CLoopbackClient c;
                    for (int i = 0; i < mine; ++i) {
                        std::string req = (keepAlive ? "KEEP " : "ONE ") + std::to_string(t) + "/" +
                                          std::to_string(i) + " END\n";
                        if (!keepAlive || c.Descriptor() < 0)
                            if (!c.Connect(port)) {
                                ++bad;
                                continue;
                            }
                        bool ok = c.Send(req);
                        std::string got = keepAlive ? c.ReadExactly(req.size() + 3, 10000)
                                                    : c.ReadUntilClose(10000);
                        (ok && got == "OK:" + req ? good : bad)++;
                    }
                });
            }
            for (auto& th : threads) th.join();
            EXPECT_EQ(kRequests, good.load()) << (keepAlive ? "keep-alive" : "one per connection");
            EXPECT_EQ(0, bad.load());
        }
        // Threads of ended connections serve later ones instead of piling up.
        for (int i = 0; i < 200; ++i) {
            CLoopbackClient c;
            ASSERT_TRUE(c.Connect(port));
            ASSERT_TRUE(c.Send("seq END\n"));
            ASSERT_EQ("OK:seq END\n", c.ReadUntilClose(5000));
        }
        EXPECT_LE(testing::CountThreads(), threadsBefore + 2 + kClients);

        std::vector<CLoopbackClient> open(kClients);
        for (auto& c : open) ASSERT_TRUE(c.Connect(port));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(1, server.Shutdown());
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    }
    EXPECT_EQ(before, testing::CountOpenDescriptors());
    EXPECT_EQ(threadsBefore, testing::CountThreads());
}

}  // namespace
}  // namespace vexa
