#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "net/CHttpSocket.h"
#include "tests/fakes/CRecordingMessageBox.h"
#include "tests/net/CScriptedPeer.h"

namespace vexa {
namespace {

using testing::CRecordingMessageBox;
using testing::CScriptedPeer;

const std::string kAgentLines =
    "Accept:*/*\r\nUser-Agent:Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)\r\n"
    "Connection:Keep-Alive\r\n";

std::string Header(CHttpSocket& s, const char* server, const char* object, const char* cookie,
                   const char* referer, long from, long to, long* lengthOut = nullptr) {
    long length = -7;
    const char* text = s.FormatRequestHeader(server, object, length, cookie, referer, from, to, 0);
    if (lengthOut != nullptr) *lengthOut = length;
    EXPECT_EQ(static_cast<long>(std::strlen(text)), length);
    return text;
}

void ConnectTo(CHttpSocket& s, int port) {
    ASSERT_EQ(1, s.Socket());
    char host[] = "127.0.0.1";
    ASSERT_EQ(1, s.Connect(host, port));
}

TEST(CHttpSocketHeader, LinesInOrderWithOptionalRefererCookieAndRange) {
    CHttpSocket s;
    EXPECT_EQ("GET /a.swf HTTP/1.1\r\nHost:h\r\n" + kAgentLines + "Range: bytes=100-\r\n\r\n",
              Header(s, "h", "/a.swf", nullptr, nullptr, 100, 0));
    EXPECT_EQ("GET /x HTTP/1.1\r\nHost:srv\r\nReferer:http://r/\r\n" + kAgentLines +
                  "Set Cookie:0k=v\r\nRange: bytes=100-200\r\n\r\n",
              Header(s, "srv", "/x", "k=v", "http://r/", 100, 200));
    // Range needs a positive start; an end only counts when it lies after the start.
    EXPECT_EQ("GET /x HTTP/1.1\r\nHost:srv\r\n" + kAgentLines + "\r\n",
              Header(s, "srv", "/x", nullptr, nullptr, 0, 500));
    EXPECT_EQ("GET /x HTTP/1.1\r\nHost:srv\r\n" + kAgentLines + "Range: bytes=100-\r\n\r\n",
              Header(s, "srv", "/x", nullptr, nullptr, 100, 50));
}

TEST(CHttpSocketHeader, HeaderThatDoesNotFitIsEmpty) {
    CHttpSocket s;
    long length = 0;
    std::string fits = Header(s, "h", "/", nullptr, nullptr, 0, 0, &length);
    // Grow the object until the header needs exactly 1023 bytes, the most that fits with its NUL.
    std::string object = "/" + std::string(static_cast<std::size_t>(1023 - length), 'o');
    EXPECT_EQ(1023u, Header(s, "h", object.c_str(), nullptr, nullptr, 0, 0).size());
    object += 'o';
    EXPECT_EQ("", Header(s, "h", object.c_str(), nullptr, nullptr, 0, 0, &length));
    EXPECT_EQ(0, length);
    std::string huge(5000, 'c');
    EXPECT_EQ("", Header(s, "h", "/", huge.c_str(), nullptr, 0, 0));
}

TEST(CHttpSocketHeader, GetRequestHeaderCopiesAtMostSizeBytes) {
    CHttpSocket s;
    std::string full = Header(s, "h", "/a", nullptr, nullptr, 0, 0);
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(5, s.GetRequestHeader(buffer, 5));
    EXPECT_EQ("GET /#", std::string(buffer, 6));  // no NUL after the copied bytes
    std::string all(2000, '\0');
    EXPECT_EQ(static_cast<int>(full.size()), s.GetRequestHeader(all.data(), 2000));
    EXPECT_EQ(full, all.substr(0, full.size()));
}

TEST(CHttpSocketState, NothingReadBeforeARequest) {
    CRecordingMessageBox boxes;
    CHttpSocket s;
    char buffer[32];
    EXPECT_EQ(-1, s.GetServerState());
    EXPECT_EQ(-1, s.GetField("Content-Length", buffer, sizeof buffer));
    EXPECT_EQ(-1, s.GetResponseLine(buffer, sizeof buffer));
    EXPECT_EQ(0, s.Receive(buffer, sizeof buffer));
    EXPECT_EQ(0, s.SendRequest(nullptr, 0));
    EXPECT_EQ(0, s.Connect(nullptr, 80));
    EXPECT_TRUE(boxes.All().empty());
}

TEST(CHttpSocketExchange, HeaderQueriesAndBodyAfterOneRequest) {
    const std::string head =
        "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: 5\r\n\r\n";
    CScriptedPeer peer({{head + "hello"}});
    CRecordingMessageBox boxes;
    CHttpSocket s;
    ConnectTo(s, peer.Port());
    long length = 0;
    std::string request =
        s.FormatRequestHeader("127.0.0.1", "/a.swf", length, nullptr, nullptr, 0, 0, 0);
    ASSERT_EQ(1, s.SendRequest(nullptr, 0));

    int size = 0;
    EXPECT_EQ(head, std::string(s.GetResponseHeader(size)));
    EXPECT_EQ(static_cast<int>(head.size()), size);
    EXPECT_EQ(404, s.GetServerState());

    char value[64];
    EXPECT_EQ(9, s.GetField("Content-Type", value, sizeof value));
    EXPECT_STREQ("text/html", value);
    EXPECT_EQ(1, s.GetField("Content-Length", value, sizeof value));
    EXPECT_STREQ("5", value);
    EXPECT_EQ(-1, s.GetField("Set-Cookie", value, sizeof value));
    // A name is found anywhere, even inside another line.
    EXPECT_EQ(4, s.GetField("Not", value, sizeof value));
    EXPECT_STREQ("ound", value);
    // A value longer than the buffer is cut and terminated; the result is its full length.
    EXPECT_EQ(9, s.GetField("Content-Type", value, 5));
    EXPECT_STREQ("text", value);

    const char* lines[] = {"HTTP/1.0 404 Not Found\r\n", "Content-Type: text/html\r\n",
                           "Content-Length: 5\r\n", "\r\n"};
    for (int round = 0; round < 2; ++round) {
        for (const char* expected : lines) {
            char line[64];
            int n = s.GetResponseLine(line, sizeof line);
            ASSERT_EQ(static_cast<int>(std::strlen(expected)), n);
            EXPECT_EQ(expected, std::string(line, static_cast<std::size_t>(n)));
        }
        EXPECT_EQ(-1, s.GetResponseLine(value, sizeof value));
    }
    char part[4];
    EXPECT_EQ(4, s.GetResponseLine(part, 4));  // a line longer than the buffer comes in pieces
    EXPECT_EQ("HTTP", std::string(part, 4));

    // Header reading took nothing of the body.
    char body[16];
    EXPECT_EQ(5, s.Receive(body, sizeof body));
    EXPECT_EQ("hello", std::string(body, 5));
    EXPECT_EQ(0, s.Receive(body, sizeof body));
    EXPECT_EQ(0, s.SendRequest(nullptr, 0));  // not connected any more
    EXPECT_EQ(1, s.Socket());                 // and ready for a fresh socket
    ASSERT_EQ(1u, peer.Requests().size());
    EXPECT_EQ(request, peer.Requests()[0]);
    EXPECT_TRUE(boxes.All().empty());
}

TEST(CHttpSocketExchange, HeaderStopsAtItsBlankLineOrAt1024Bytes) {
    // Exactly 1024 bytes with the blank line at the end, then a body.
    std::string head = "HTTP/1.1 200 OK\r\nX-Pad: ";
    head += std::string(1024 - head.size() - 4, 'p') + "\r\n\r\n";
    ASSERT_EQ(1024u, head.size());
    std::string longHead = "HTTP/1.1 206 Partial\r\nX-Pad: " + std::string(1100, 'q') + "\r\n\r\n";
    // Cut at 1024 bytes right after a name: its value lies beyond what was read.
    std::string cutHead = "HTTP/1.1 200 OK\r\nX-Pad: ";
    cutHead += std::string(1024 - cutHead.size() - 4, 'r') + "Tail: value\r\n\r\n";
    CScriptedPeer peer({{head + "BODY"}, {longHead}, {cutHead}});

    CHttpSocket s;
    ConnectTo(s, peer.Port());
    ASSERT_EQ(1, s.SendRequest("GET / HTTP/1.1\r\n\r\n", 18));
    int size = 0;
    EXPECT_EQ(head, std::string(s.GetResponseHeader(size)));
    EXPECT_EQ(1024, size);
    char value[2048];
    EXPECT_EQ(static_cast<int>(head.find("\r\n\r\n") - head.find("ppp")),
              s.GetField("X-Pad", value, sizeof value));
    char body[8];
    EXPECT_EQ(4, s.Receive(body, sizeof body));
    EXPECT_EQ("BODY", std::string(body, 4));

    CHttpSocket t;
    ConnectTo(t, peer.Port());
    ASSERT_EQ(1, t.SendRequest("GET / HTTP/1.1\r\n\r\n", 18));
    EXPECT_EQ(std::string(t.GetResponseHeader(size)), longHead.substr(0, 1024));
    EXPECT_EQ(1024, size);
    EXPECT_EQ(206, t.GetServerState());
    // The field's value runs to the end of what was read; the rest is left for Receive.
    EXPECT_EQ(static_cast<int>(1024 - longHead.find("qqq")),
              t.GetField("X-Pad", value, sizeof value));
    std::string rest;
    char chunk[512];
    long n;
    while ((n = t.Receive(chunk, sizeof chunk)) > 0)
        rest.append(chunk, static_cast<std::size_t>(n));
    EXPECT_EQ(longHead.substr(1024), rest);

    CHttpSocket u;
    ConnectTo(u, peer.Port());
    ASSERT_EQ(1, u.SendRequest("GET / HTTP/1.1\r\n\r\n", 18));
    EXPECT_EQ(1024, (u.GetResponseHeader(size), size));
    std::strcpy(value, "untouched");
    EXPECT_EQ(0, u.GetField("Tail", value, sizeof value));
    EXPECT_STREQ("", value);
}

TEST(CHttpSocketExchange, PeerClosingDuringTheHeaderKeepsWhatCame) {
    CScriptedPeer peer({{"HTTP/1.1 503 Serv"}});
    CHttpSocket s;
    ConnectTo(s, peer.Port());
    ASSERT_EQ(1, s.SendRequest("GET / HTTP/1.1\r\n\r\n", 0));
    int size = 0;
    EXPECT_EQ("HTTP/1.1 503 Serv", std::string(s.GetResponseHeader(size)));
    EXPECT_EQ(17, size);
    EXPECT_EQ(503, s.GetServerState());
    char value[16];
    EXPECT_EQ(-1, s.GetField("Content-Length", value, sizeof value));
    EXPECT_EQ(0, s.Receive(value, sizeof value));
}

TEST(CHttpSocketExchange, ReceiveTimeOutClosesTheSocket) {
    CScriptedPeer peer({{"HTTP/1.1 200 OK\r\n\r\n", 5000}});
    CRecordingMessageBox boxes;
    CHttpSocket s;
    ConnectTo(s, peer.Port());
    ASSERT_EQ(1, s.SetTimeout(200, 0));
    ASSERT_EQ(1, s.SetTimeout(200, 1));
    ASSERT_EQ(1, s.SendRequest("GET / HTTP/1.1\r\n\r\n", 0));
    EXPECT_EQ(200, s.GetServerState());
    char buffer[16];
    EXPECT_LT(s.Receive(buffer, sizeof buffer), 0);
    EXPECT_EQ(0, s.Receive(buffer, sizeof buffer));  // closed by the time-out
    EXPECT_TRUE(boxes.All().empty());
}

TEST(CHttpSocketExchange, SecondRequestReadsItsOwnHeader) {
    CScriptedPeer peer({{"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", 0, false},
                        {"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"}});
    CHttpSocket s;
    ConnectTo(s, peer.Port());
    long length = 0;
    s.FormatRequestHeader("127.0.0.1", "/one", length, nullptr, nullptr, 0, 0, 0);
    ASSERT_EQ(1, s.SendRequest(nullptr, 0));
    EXPECT_EQ(200, s.GetServerState());
    char line[64];
    EXPECT_GT(s.GetResponseLine(line, sizeof line), 0);  // leaves the line index mid-header
    ASSERT_EQ(1, s.SendRequest(nullptr, 0));
    EXPECT_EQ(404, s.GetServerState());
    int n = s.GetResponseLine(line, sizeof line);
    EXPECT_EQ("HTTP/1.1 404 Not Found\r\n", std::string(line, static_cast<std::size_t>(n)));
    EXPECT_EQ(2u, peer.Requests().size());
}

TEST(CHttpSocketCopy, EachCopyClosesOnlyItsOwnHandle) {
    CScriptedPeer peer({{"HTTP/1.1 200 OK\r\n\r\nabcdef"}});
    CRecordingMessageBox boxes;
    CHttpSocket s;
    ConnectTo(s, peer.Port());
    ASSERT_EQ(1, s.SendRequest("GET / HTTP/1.1\r\n\r\n", 0));
    char buffer[8];
    {
        CHttpSocket copy(s);
        EXPECT_EQ(200, copy.GetServerState());
        EXPECT_EQ(3, copy.Receive(buffer, 3));  // the copy reads the same connection
        CHttpSocket assigned;
        assigned = s;
        EXPECT_EQ(200, assigned.GetServerState());
    }
    // Both copies are gone; the original's handle still works.
    EXPECT_EQ(3, s.Receive(buffer, sizeof buffer));
    EXPECT_EQ("def", std::string(buffer, 3));
    EXPECT_EQ(0, s.Receive(buffer, sizeof buffer));
    EXPECT_TRUE(boxes.All().empty());
}

TEST(CHttpSocketFailures, FailedCallsShowTheirBox) {
    CRecordingMessageBox boxes;
    CHttpSocket s;
    EXPECT_EQ(0, s.SetTimeout(100, 0));  // no socket yet
    ASSERT_EQ(1, s.Socket());
    char host[] = "no-such-host.invalid";
    EXPECT_EQ(0, s.Connect(host, 80));
    // A port nobody listens on: take a free one and let it go.
    int port;
    {
        CScriptedPeer idle({});
        port = idle.Port();
    }
    char local[] = "127.0.0.1";
    EXPECT_EQ(0, s.Connect(local, port));
    EXPECT_EQ(1, s.Socket());  // a failed connect leaves a socket to be replaced
    CHttpSocket fresh;
    EXPECT_EQ(0, fresh.Connect(local, port));  // no socket at all

    auto shown = boxes.All();
    ASSERT_EQ(4u, shown.size());
    EXPECT_EQ("setsockopt()函数执行失败!", shown[0].text);
    EXPECT_EQ("gethostbyname()函数执行失败!", shown[1].text);
    EXPECT_EQ("connect()函数执行失败!", shown[2].text);
    EXPECT_EQ("connect()函数执行失败!", shown[3].text);
    for (const auto& box : shown) EXPECT_EQ("错误", box.caption);
}

TEST(CHttpSocketFailures, SocketWhileConnectedDoesNothing) {
    CScriptedPeer peer({{"HTTP/1.1 200 OK\r\n\r\n"}});
    CHttpSocket s;
    ConnectTo(s, peer.Port());
    EXPECT_EQ(0, s.Socket());
    ASSERT_EQ(1, s.SendRequest("GET / HTTP/1.1\r\n\r\n", 0));
    EXPECT_EQ(200, s.GetServerState());
}

}  // namespace
}  // namespace vexa
