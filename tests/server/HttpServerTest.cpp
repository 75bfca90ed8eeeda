#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "server/CHTTPServer.h"
#include "server/DownloadHelpers.h"
#include "tests/fakes/CFakeContentSite.h"
#include "tests/server/LoopbackClient.h"
#include "tests/server/TestStateFolder.h"

namespace vexa {
namespace {

namespace fs = std::filesystem;
using testing::CFakeContentSite;
using testing::CLoopbackClient;

// Opens the request handling to the test, which drives it with and without sockets.
class COpenHTTPServer : public CHTTPServer {
  public:
    using CHTTPServer::IsRequestComplete;
    using CHTTPServer::ParseRequest;
};

void WriteFile(const std::string& path, const std::string& body) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << body;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Every path below folder, each with its size, so any change shows.
std::set<std::string> Snapshot(const std::string& folder) {
    std::set<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        std::string entry = e.path().string();
        if (e.is_regular_file()) entry += " " + std::to_string(e.file_size());
        out.insert(entry);
    }
    return out;
}

// The reply with its Date value checked and replaced by "DATE".
std::string WithoutDate(const std::string& reply) {
    static const std::regex date(
        "Date: (Sun|Mon|Tue|Wed|Thu|Fri|Sat), \\d{2} "
        "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \\d{4} \\d{2}:\\d{2}:\\d{2} GMT\r\n");
    return std::regex_replace(reply, date, "Date: DATE\r\n",
                              std::regex_constants::format_first_only);
}

std::string Full(const std::string& type, const std::string& body, bool keepAlive = false) {
    return "HTTP/1.0 200 OK\r\nDate: DATE\r\nServer: Web1.0\r\nAccept-Ranges: bytes\r\n"
           "Content-Length: " +
           std::to_string(body.size()) + "\r\nConnection: " + (keepAlive ? "Keep-Alive" : "close") +
           "\r\nContent-Type: " + type + "\r\n\r\n" + body;
}

// The reply a client gets of a fetch that broke off: the head states the whole length.
std::string CutShort(const std::string& type, std::size_t statedLength, const std::string& got) {
    std::string full = Full(type, std::string(statedLength, ' '));
    return full.substr(0, full.size() - statedLength) + got;
}

std::string Short(const std::string& status) {
    return "HTTP/1.0 " + status +
           "\r\nContent-Length: 0\r\nContent-Type: text/html\r\nDate: DATE\r\nServer: "
           "Web1.0\r\n\r\n";
}

class HttpServerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        setenv("no_proxy", "127.0.0.1,localhost", 1);
        setenv("NO_PROXY", "127.0.0.1,localhost", 1);
    }
    void SetUp() override {
        char tmpl[] = "/tmp/vexa-http-test-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        sandbox = tmpl;
        root = sandbox + "/data/quinbery/lm";
        ASSERT_TRUE(site.Start());
        setenv("VEXA_CONTENT_SITE", site.BaseUrl().c_str(), 1);
    }
    void TearDown() override {
        server.Stop();
        site.Stop();
        std::error_code ec;
        fs::remove_all(sandbox, ec);
    }
    void StartServer() {
        ASSERT_EQ(1, server.Start(root, "INDEX.HTML", 0, 5000));
        ASSERT_EQ(root + "/", server.DocumentRoot());
    }
    // One request over a fresh connection; the reply with its date replaced.
    std::string Get(const std::string& target, const std::string& headers = "") {
        CLoopbackClient c;
        if (!c.Connect(server.GetPort())) return "connect failed";
        c.Send("GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n" + headers + "\r\n");
        return WithoutDate(c.ReadUntilClose(10000));
    }
    std::string Parse(const std::string& request, int* keepAlive = nullptr) {
        int flag = 0;
        std::string reply = "left over";
        EXPECT_EQ(1, server.ParseRequest(request, &reply, keepAlive ? keepAlive : &flag));
        return WithoutDate(reply);
    }

    std::string sandbox;
    std::string root;
    CFakeContentSite site;
    COpenHTTPServer server;
};

TEST_F(HttpServerTest, RootServesTheDefaultDocumentByteForByte) {
    WriteFile(root + "/INDEX.HTML", "<html>hi</html>");
    StartServer();
    EXPECT_EQ(Full("text/html", "<html>hi</html>"), Get("/"));
    EXPECT_EQ(0u, site.Requests().size()) << "a file present locally is not fetched";
}

TEST_F(HttpServerTest, MovieIsRefreshedBeforeEveryRequestAndKeptWhenTheSiteFails) {
    WriteFile(root + "/vexa.swf", "old movie");
    site.SetFile("/vexa.swf", "new movie");
    StartServer();
    EXPECT_EQ(Full("application/x-shockwave-flash", "new movie"), Get("/vexa.swf"));
    site.SetFile("/vexa.swf", "newer movie");
    EXPECT_EQ(Full("application/x-shockwave-flash", "newer movie"), Get("//vexa.swf"));
    EXPECT_EQ(2u, site.CountOf("/vexa.swf"));
    site.SetNotFound("/vexa.swf");
    EXPECT_EQ(Full("application/x-shockwave-flash", "newer movie"), Get("/vexa.swf"));
    EXPECT_EQ(3u, site.CountOf("/vexa.swf"));
}

TEST_F(HttpServerTest, QueryBecomesAPrefixOfTheStoredName) {
    site.SetFile("/snd/A.MP3?t=1", "mp3 bytes");
    StartServer();
    EXPECT_EQ(Full("audio/mpeg", "mp3 bytes"), Get("/snd/A.MP3?t=1"));
    EXPECT_EQ("mp3 bytes", ReadFile(root + "/snd/t=1A.MP3"));
    site.SetFile("/snd/A.MP3?t=1", "changed");
    EXPECT_EQ(Full("audio/mpeg", "mp3 bytes"), Get("/snd/A.MP3?t=1")) << "served from the mirror";
    EXPECT_EQ(1u, site.CountOf("/snd/A.MP3?t=1"));
}

TEST_F(HttpServerTest, XmlIsFetchedOnEveryRequestUnderItsPlainName) {
    site.SetFile("/data/list.xml?x=2", "<a/>");
    StartServer();
    EXPECT_EQ(Full("text/html", "<a/>"), Get("/data/list.xml?x=2"));
    site.SetFile("/data/list.xml?x=2", "<b/>");
    EXPECT_EQ(Full("text/html", "<b/>"), Get("/data/list.xml?x=2"));
    EXPECT_EQ(2u, site.CountOf("/data/list.xml?x=2"));
    EXPECT_EQ("<b/>", ReadFile(root + "/data/list.xml"));
}

TEST_F(HttpServerTest, KeepAliveOnlyInItsExactSpelling) {
    WriteFile(root + "/a.txt", "AAA");
    StartServer();
    EXPECT_EQ(Full("text/plain", "AAA"), Get("/a.txt", "Connection: keep-alive\r\n"));

    // A larger reply before a smaller one on the same connection: each is exactly its own.
    std::string large(70000, 'L');
    WriteFile(root + "/large.txt", large);
    CLoopbackClient c;
    ASSERT_TRUE(c.Connect(server.GetPort()));
    for (const char* name : {"/large.txt", "/a.txt", "/a.txt"}) {
        c.Send(std::string("GET ") + name + " HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n");
        EXPECT_EQ(Full("text/plain", name[1] == 'a' ? "AAA" : large, true),
                  WithoutDate(c.ReadHttpReply(5000)))
            << name;
    }
    // A short-form reply ends even a kept connection.
    c.Send("GET /missing.txt HTTP/1.0\r\n\r\n");
    EXPECT_EQ(Short("404 Resource not found"), WithoutDate(c.ReadHttpReply(5000)));
    EXPECT_TRUE(c.WaitClosed(5000));
}

TEST_F(HttpServerTest, ShortFormsForOtherMethodsAndMissingFiles) {
    site.SetNotFound("/gone.mp3");
    StartServer();
    CLoopbackClient c;
    ASSERT_TRUE(c.Connect(server.GetPort()));
    c.Send("HEAD /INDEX.HTML HTTP/1.0\r\n\r\n");
    bool closed = false;
    EXPECT_EQ(Short("501 Not Implemented"), WithoutDate(c.ReadUntilClose(5000, &closed)));
    EXPECT_TRUE(closed);
    EXPECT_EQ(Short("404 Resource not found"), Get("/gone.mp3"));
    EXPECT_EQ(1u, site.CountOf("/gone.mp3"));
    EXPECT_FALSE(fs::exists(root + "/gone.mp3"));
}

TEST_F(HttpServerTest, ContentTypeFromTheLastDotLowerCased) {
    WriteFile(root + "/x/READ.ME", "1");
    WriteFile(root + "/x/noext", "2");
    WriteFile(root + "/v1.2/clip", "3");
    WriteFile(root + "/x/P.GIF", "4");
    WriteFile(root + "/x/s.CSS", "5");
    StartServer();
    EXPECT_EQ(Full("text/html", "1"), Get("/x/READ.ME"));
    EXPECT_EQ(Full("text/html", "2"), Get("/x/noext"));
    EXPECT_EQ(Full("text/html", "3"), Get("/v1.2/clip"));
    EXPECT_EQ(Full("image/gif", "4"), Get("/x/P.GIF"));
    EXPECT_EQ(Full("text/css", "5"), Get("/x/s.CSS"));
}

TEST_F(HttpServerTest, CompletenessAndUnparsableRequests) {
    StartServer();
    EXPECT_EQ(0, server.IsRequestComplete(""));
    EXPECT_EQ(0, server.IsRequestComplete("\r\n\r"));
    EXPECT_EQ(1, server.IsRequestComplete("\r\n\r\n"));
    EXPECT_EQ(1, server.IsRequestComplete("GET / HTTP/1.0\r\n\r\n"));
    EXPECT_EQ(0, server.IsRequestComplete("GET / HTTP/1.0\r\n\r\nbody"));

    int keep = 0;
    std::string reply = "untouched";
    EXPECT_EQ(0, server.ParseRequest("GARBAGE\r\n\r\n", &reply, &keep));
    EXPECT_NE(std::string::npos,
              testing::ReadRunLog().find(" - No 'space' found in Request String #2.\t"
                                         "[ParseRequest]\t[0]\r\n"));
    CLoopbackClient c;
    ASSERT_TRUE(c.Connect(server.GetPort()));
    c.Send("GARBAGE\r\n\r\n");
    bool closed = false;
    EXPECT_EQ("", c.ReadUntilClose(5000, &closed));
    EXPECT_TRUE(closed);
}

TEST_F(HttpServerTest, EveryStartBeginsANewRunLog) {
    ASSERT_EQ(1, server.WriteLog("from the previous run", "Test", 0));
    StartServer();
    EXPECT_EQ("", testing::ReadRunLog());
    EXPECT_TRUE(fs::is_directory(root)) << "the root is created on start";
}

TEST_F(HttpServerTest, DeletedRootIsRebuiltBySubFolderFetchesOnly) {
    site.SetFile("/snd/b.mp3", "B");
    site.SetFile("/top.mp3", "T");
    StartServer();
    fs::remove_all(root);
    EXPECT_EQ(Full("audio/mpeg", "B"), Get("/snd/b.mp3"));
    EXPECT_EQ("B", ReadFile(root + "/snd/b.mp3"));
    fs::remove_all(root);
    EXPECT_EQ(Short("404 Resource not found"), Get("/top.mp3"));
    EXPECT_FALSE(fs::exists(root));
    server.Stop();
    StartServer();
    EXPECT_EQ(Full("audio/mpeg", "T"), Get("/top.mp3"));
}

TEST_F(HttpServerTest, CutShortOrUnreachableFetchIsNeverServed) {
    site.SetShortBody("/cut.bin", "abc", 10);
    site.SetNoLength("/stream.bin", "streamed");
    StartServer();
    // A miss goes on to the client as it comes; one that breaks off stays short of the length
    // its head states, and the connection ends there. Without a stated length it waits for all.
    EXPECT_EQ(CutShort("application/octet-stream", 10, "abc"), Get("/cut.bin"));
    EXPECT_EQ(Full("application/octet-stream", "streamed"), Get("/stream.bin"));
    std::set<std::string> expected{root + "/stream.bin 8"};
    EXPECT_EQ(expected, Snapshot(root)) << "no partial or temporary file stays behind";
}

TEST_F(HttpServerTest, AMissReachesTheClientAsItComesAndASlowReaderDoesNotHoldUpTheFetch) {
    // Half of the body, then the site holds the connection: only a server that passes the
    // file on as it comes has anything to give.
    CFakeContentSite::Answer half;
    half.body = std::string(100000, 'h');
    half.statedLength = 200000;
    half.holdOpen = true;
    site.SetAnswer("/half.mp3", half);
    // Larger than the memory a fetch holds, and not uniform, so that any piece out of place shows.
    std::string big(2 << 20, 'b');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 23);
    site.SetFile("/big.mp3", big);
    StartServer();
    std::string expected = CutShort("audio/mpeg", 200000, half.body);
    CLoopbackClient c;
    ASSERT_TRUE(c.Connect(server.GetPort()));
    c.Send("GET /half.mp3 HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    // The date takes 25 bytes more than "DATE".
    EXPECT_EQ(expected, WithoutDate(c.ReadExactly(expected.size() + 25, 10000)));
    site.Stop();
    EXPECT_TRUE(c.WaitClosed(10000)) << "the broken-off fetch ends the connection";
    EXPECT_FALSE(fs::exists(root + "/half.mp3"));

    // A client that does not read: the file is stored all the same, and then sent whole.
    ASSERT_TRUE(site.Start());
    setenv("VEXA_CONTENT_SITE", site.BaseUrl().c_str(), 1);
    server.Stop();
    StartServer();
    CLoopbackClient slow;
    ASSERT_TRUE(slow.Connect(server.GetPort(), 4096));
    slow.Send("GET /big.mp3 HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    for (int i = 0; i < 100 && !fs::exists(root + "/big.mp3"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(big, ReadFile(root + "/big.mp3"));
    EXPECT_EQ(Full("audio/mpeg", big), WithoutDate(slow.ReadUntilClose(10000)));
}

TEST_F(HttpServerTest, SimultaneousMissesOfOneFileFetchItOnce) {
    std::string body(200000, 'm');
    site.SetFile("/snd/same.mp3", body);
    site.SetDelay("/snd/same.mp3", 300);
    StartServer();
    std::vector<std::string> replies(4);
    std::vector<std::thread> threads;
    threads.reserve(replies.size());
    for (auto& r : replies) threads.emplace_back([&] { r = Get("/snd/same.mp3"); });
    for (auto& t : threads) t.join();
    for (auto& r : replies) EXPECT_TRUE(r == Full("audio/mpeg", body));
    EXPECT_EQ(1u, site.CountOf("/snd/same.mp3"));
}

TEST_F(HttpServerTest, SimultaneousRefreshesShareOneFetch) {
    site.SetFile("/slow.xml", "<slow/>");
    site.SetDelay("/slow.xml", 1000);
    StartServer();
    std::vector<std::string> replies(4);
    std::vector<std::thread> threads;
    threads.reserve(replies.size());
    for (auto& r : replies) threads.emplace_back([&] { r = Get("/slow.xml"); });
    for (auto& t : threads) t.join();
    for (auto& r : replies) EXPECT_EQ(Full("text/html", "<slow/>"), r);
    EXPECT_LE(site.CountOf("/slow.xml"), 2u);
    EXPECT_EQ(Full("text/html", "<slow/>"), Get("/slow.xml"));
    EXPECT_GE(site.CountOf("/slow.xml"), 2u) << "a later request refreshes again";
}

TEST_F(HttpServerTest, SimultaneousRefreshesOfOtherQueriesEachFetchTheirOwn) {
    site.SetFile("/r/report.xml?a", "<a/>");
    site.SetFile("/r/report.xml?b", "<b/>");
    site.SetDelay("/r/report.xml?a", 500);
    site.SetDelay("/r/report.xml?b", 500);
    StartServer();
    std::thread first([&] { Get("/r/report.xml?a"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::thread second([&] { Get("/r/report.xml?b"); });
    first.join();
    second.join();
    EXPECT_EQ(1u, site.CountOf("/r/report.xml?a"));
    EXPECT_EQ(1u, site.CountOf("/r/report.xml?b"))
        << "a refresh under way for ?a must not stand for ?b";
}

// A site that does not answer costs its time-out once: until it answers again, or the quiet
// time is over, misses are not found at once and refreshes serve the local copy.
TEST_F(HttpServerTest, ASiteThatDoesNotAnswerIsNoticedOnce) {
    std::atomic<std::uint64_t> now{1000};
    server.SiteOutage()->SetClock([&] { return now.load(); });
    WriteFile(root + "/vexa.swf", "local movie");
    WriteFile(root + "/list.xml", "<local/>");
    site.SetFile("/vexa.swf", "site movie");
    site.SetFile("/late.mp3", "late");
    int port = site.Port();
    StartServer();
    site.Stop();  // nothing listens there now
    EXPECT_EQ(Short("404 Resource not found"), Get("/first.mp3"));

    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 19; ++i)
        EXPECT_EQ(Short("404 Resource not found"), Get("/miss/" + std::to_string(i) + ".mp3"));
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(2)) << "each miss waited for the site again";
    EXPECT_EQ(Full("application/x-shockwave-flash", "local movie"), Get("/vexa.swf"));
    EXPECT_EQ(Full("text/html", "<local/>"), Get("/list.xml"));

    // Back, but the quiet time is not over: still not asked.
    ASSERT_TRUE(site.Start(port));
    now += CSiteOutage::kQuietMs - 1;
    EXPECT_EQ(Short("404 Resource not found"), Get("/late.mp3"));
    EXPECT_TRUE(site.Requests().empty());
    now += 1;
    EXPECT_EQ(Full("audio/mpeg", "late"), Get("/late.mp3"));
    EXPECT_EQ(Full("application/x-shockwave-flash", "site movie"), Get("/vexa.swf"));
    EXPECT_EQ(2u, site.Requests().size());
    server.SiteOutage()->SetClock({});
}

// An answer of any kind means the site is there: a 404 or a broken-off body ends nothing.
TEST_F(HttpServerTest, AnAnsweringSiteIsAskedForEveryMiss) {
    site.SetShortBody("/cut.mp3", "ab", 10);
    StartServer();
    EXPECT_EQ(CutShort("audio/mpeg", 10, "ab"), Get("/cut.mp3"));
    EXPECT_EQ(Short("404 Resource not found"), Get("/gone.mp3"));
    site.SetFile("/gone.mp3", "g");
    EXPECT_EQ(Full("audio/mpeg", "g"), Get("/gone.mp3"));
    EXPECT_EQ(3u, site.Requests().size());
    EXPECT_FALSE(server.SiteOutage()->IsDown());
}

// The data folder is not offered to the network: another address of this machine is refused.
TEST_F(HttpServerTest, ListensOnLoopbackOnly) {
    StartServer();
    in_addr other{};
    ifaddrs* list = nullptr;
    ASSERT_EQ(0, getifaddrs(&list));
    for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
        in_addr a = reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr;
        if ((ntohl(a.s_addr) >> 24) != 127) other = a;
    }
    freeifaddrs(list);
    if (other.s_addr == 0) GTEST_SKIP() << "no address besides loopback";
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(server.GetPort()));
    sa.sin_addr = other;
    EXPECT_NE(0, connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa));
    close(fd);
    CLoopbackClient c;
    EXPECT_TRUE(c.Connect(server.GetPort()));
}

// A port that looked free but was taken before the listener could bind it (a program starting at
// the same moment): the server starts on the next free one.
TEST_F(HttpServerTest, PortTakenBetweenTheProbeAndTheBindGivesTheNextFreeOne) {
    int port = testing::FreeLoopbackPort();
    ASSERT_GT(port, 0);
    // Bound without listening, so the probe of the system's connection table does not see it.
    int taken = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, bind(taken, reinterpret_cast<sockaddr*>(&sa), sizeof sa));
    WriteFile(root + "/a.txt", "AAA");
    ASSERT_EQ(1, server.Start(root, "INDEX.HTML", port, 5000));
    EXPECT_GT(server.GetPort(), port);
    EXPECT_EQ(Full("text/plain", "AAA"), Get("/a.txt"));
    close(taken);
}

// Targets that try to leave the document root: answered "404" with nothing fetched, written or
// created anywhere.
TEST_F(HttpServerTest, RequestsNamingAnotherHostGetNothing) {
    WriteFile(root + "/lesson1/pic.gif", "picture");
    site.SetFile("/lesson1/new.gif", "fresh");
    StartServer();
    const std::string port = std::to_string(server.GetPort());
    auto raw = [&](const std::string& head) {
        CLoopbackClient c;
        if (!c.Connect(server.GetPort())) return std::string("connect failed");
        c.Send(head + "\r\n");
        return WithoutDate(c.ReadUntilClose(10000));
    };
    EXPECT_EQ(Short("404 Resource not found"),
              raw("GET /lesson1/pic.gif HTTP/1.1\r\nHost: attacker.example\r\n"));
    EXPECT_EQ(Full("image/gif", "picture"),
              raw("GET /lesson1/pic.gif HTTP/1.1\r\nHost: 127.0.0.1:" + port + "\r\n"));

    for (const std::string& ours :
         std::vector<std::string>{"127.0.0.1", "localhost", "LocalHost:" + port, "[::1]",
                                  "[::1]:" + port, " 127.0.0.1 "}) {
        EXPECT_EQ(Full("image/gif", "picture"),
                  Parse("GET /lesson1/pic.gif HTTP/1.0\r\nhost:" + ours + "\r\n\r\n"))
            << ours;
    }
    EXPECT_EQ(Full("image/gif", "picture"), Parse("GET /lesson1/pic.gif HTTP/1.0\r\n\r\n"));
    // Neither fetched through the server nor served from the mirror.
    for (const std::string& foreign : std::vector<std::string>{
             "attacker.example:" + port, "127.0.0.1:1", "localhost:" + port + "0", "127.0.0.1:",
             "127.0.0.1.attacker.example", "::1", "[::1]x", "127.0.0.2", "", "localhost evil"}) {
        EXPECT_EQ(Short("404 Resource not found"),
                  Parse("GET /lesson1/new.gif HTTP/1.0\r\nHost: " + foreign + "\r\n\r\n"))
            << foreign;
        EXPECT_EQ(Short("404 Resource not found"),
                  Parse("GET /lesson1/pic.gif HTTP/1.0\r\nHost: 127.0.0.1\r\nHOST: " + foreign +
                        "\r\n\r\n"))
            << foreign;
    }
    EXPECT_EQ(0u, site.Requests().size());
    EXPECT_FALSE(fs::exists(root + "/lesson1/new.gif"));
    // A Host line in a body is no header.
    EXPECT_EQ(Full("image/gif", "picture"),
              Parse("GET /lesson1/pic.gif HTTP/1.0\r\n\r\nHost: attacker.example\r\n"));
}

TEST_F(HttpServerTest, HostileTargetsStayInsideTheRoot) {
    WriteFile(sandbox + "/data/quinbery/secret.txt", "secret");
    WriteFile(sandbox + "/data/quinbery/vexa.swf", "outside movie");
    WriteFile(root + "/INDEX.HTML", "index");
    StartServer();
    const std::vector<std::string> hostile = {
        "/../secret.txt",
        "/../../secret.txt",
        "//../secret.txt",
        "/..",
        "/../",
        "/a/../../secret.txt",
        "/a/b/../../../secret.txt",
        "/snd/../../secret.txt",
        "/snd/..",
        "/../vexa.swf",
        "//../vexa.swf",
        "/../x.xml",
        "/../data/x.xml?y=1",
        "/snd/../../x.xml",
        "/x.mp3?../secret.txt",
        "/x.mp3?..",
        "/x.mp3?a/b",
        "/x.mp3?/etc/passwd",
        "/snd/x.mp3?../../",
        "/x.xml?../../secret",
        "/vexa.swf?../../vexa.swf",
        "/vexa.swf?a/../../b",
        "///etc/passwd",
        "////etc/passwd",
        "///tmp/evil.mp3",
        "/\\etc\\passwd",
        "/..\\secret.txt",
        "/a\\..\\..\\secret.txt",
        "/x.mp3?..\\..\\secret",
        "/x.mp3?a\\b",
        "/.\\secret.txt?.",
        "/snd/.\\x.mp3?.",
        std::string("/sec\0ret.txt", 12),
        std::string("/snd/\0/../x", 11),
        "/a\x01.mp3",
        "/a\x7f.mp3",
        "/a\tb.mp3",
        "/a.mp3?\x1b[2J",
        "/snd/a.mp3\r\nX-Evil: 1",
        "/snd/\r/x.mp3",
        "/.?.",
        "/snd/?../x",
        "/?x/../../secret.txt",
        "/snd/..?x",
        "/snd/..//..//secret.txt",
        "/snd//../../secret.txt",
        "/%2e%2e/secret.txt?..",
    };
    ASSERT_GE(hostile.size(), 40u);
    std::set<std::string> before = Snapshot(sandbox);
    for (const std::string& target : hostile) {
        int keep = 1;
        EXPECT_EQ(Short("404 Resource not found"),
                  Parse("GET " + target + " HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n", &keep))
            << "target: " << target;
        EXPECT_EQ(0, keep);
    }
    EXPECT_EQ(before, Snapshot(sandbox));
    EXPECT_EQ(0u, site.Requests().size());

    // Literal percent signs and dots inside names stay inside the root.
    site.SetFile("/%2e%2e/p.mp3", "P");
    site.SetFile("/a..b/c.mp3", "C");
    EXPECT_EQ(Full("audio/mpeg", "P"), Parse("GET /%2e%2e/p.mp3 HTTP/1.0\r\n\r\n"));
    EXPECT_EQ("P", ReadFile(root + "/%2e%2e/p.mp3"));
    EXPECT_EQ(Full("audio/mpeg", "C"), Parse("GET /a..b/c.mp3 HTTP/1.0\r\n\r\n"));
}

// Threads and descriptors come back to the given counts (or fewer); the site and the server end
// their connections' threads a moment after the connection closes.
bool SettlesAt(int descriptors, int threads) {
    for (int waited = 0; waited < 10000; waited += 50) {
        if (testing::CountOpenDescriptors() <= descriptors && testing::CountThreads() <= threads)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

TEST_F(HttpServerTest, HostileSiteLeavesTheGoodCopyAndEveryRequestIsAnswered) {
    // Small limits, so the slow and the endless answer are cut within seconds.
    struct SLimits {
        SLimits() {
            DownloadLimits small;
            small.maxBytes = 1 << 20;
            small.slowWindowMs = 2000;
            SetDownloadLimits(small);
        }
        ~SLimits() { SetDownloadLimits(DownloadLimits()); }
    } limits;
    using M = CFakeContentSite::Misbehaviour;
    const std::string movie = "the good movie";
    WriteFile(root + "/vexa.swf", movie);
    site.SetFile("/vexa.swf", movie);
    StartServer();
    // The first fetch sets up what stays for the process (the transfer library, the threads).
    ASSERT_EQ(Full("application/x-shockwave-flash", movie), Get("/vexa.swf"));
    const std::set<std::string> before = Snapshot(root);
    const int descriptors = testing::CountOpenDescriptors();
    const int threads = testing::CountThreads();

    const std::string self = "127.0.0.1:" + std::to_string(site.Port());
    const std::vector<std::pair<std::string, std::function<void()>>> cases = {
        {"length longer than the body", [&] { site.SetShortBody("/vexa.swf", "bad", 1000); }},
        {"broken chunk size", [&] { site.SetMisbehaviour("/vexa.swf", M::kBrokenChunkSize); }},
        {"1 MiB head", [&] { site.SetMisbehaviour("/vexa.swf", M::kHugeHead); }},
        {"redirect to a file", [&] { site.SetRedirect("/vexa.swf", "file:///etc/passwd"); }},
        {"redirect to another scheme",
         [&] { site.SetRedirect("/vexa.swf", "ftp://" + self + "/vexa.swf"); }},
        {"20-hop loop",
         [&] {
             site.SetRedirect("/vexa.swf", "/hop/0");
             for (int i = 0; i < 20; ++i)
                 site.SetRedirect("/hop/" + std::to_string(i),
                                  "http://" + self + "/hop/" + std::to_string((i + 1) % 20));
         }},
        {"one byte per second", [&] { site.SetMisbehaviour("/vexa.swf", M::kTrickleForever); }},
        {"endless body", [&] { site.SetMisbehaviour("/vexa.swf", M::kEndlessBody); }},
    };
    for (const auto& [name, arrange] : cases) {
        SCOPED_TRACE(name);
        arrange();
        site.ClearLog();
        CLoopbackClient c;
        ASSERT_TRUE(c.Connect(server.GetPort()));
        c.Send("GET /vexa.swf HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
        bool closed = false;
        // Far longer than any case needs: only a fetch that is never given up reaches it.
        const std::string reply = WithoutDate(c.ReadUntilClose(30000, &closed));
        EXPECT_TRUE(closed) << "the request was not answered";
        EXPECT_EQ(Full("application/x-shockwave-flash", movie), reply);
        EXPECT_EQ(movie, ReadFile(root + "/vexa.swf"));
        EXPECT_EQ(before, Snapshot(root)) << "no partial or temporary file stays behind";
        EXPECT_EQ(1u, site.CountOf("/vexa.swf")) << "the site was asked once";
        EXPECT_LE(site.Requests().size(), 11u) << "redirects are followed ten times at most";
        c.Close();
        EXPECT_TRUE(SettlesAt(descriptors, threads))
            << "descriptors " << testing::CountOpenDescriptors() << " (were " << descriptors
            << "), threads " << testing::CountThreads() << " (were " << threads << ")";
    }
}

}  // namespace
}  // namespace vexa
