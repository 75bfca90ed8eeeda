// A content site on loopback for tests: answers GET requests from a table of paths or from a
// folder, can misbehave per path (status, short body, no length, slow answer), and logs every
// request. Start it in the test; it stops by itself when destroyed.
//
//   CFakeContentSite site;
//   site.SetFile("/vexa.xml", "<config/>");             // 200 with Content-Length
//   site.SetNotFound("/gone.mp3");                       // 404
//   site.SetShortBody("/cut.bin", "abc", 10);            // states 10 bytes, sends 3, closes
//   site.SetNoLength("/stream.bin", "xyz");              // no Content-Length, closes after body
//   site.SetDelay("/vexa.xml", 500);                     // waits 500 ms before answering
//   site.SetSilent(true);                                // accepts, reads, never answers
//   site.SetRedirect("/old.swf", "file:///etc/passwd");  // 302 with that Location
//   site.SetMisbehaviour("/x.swf", CFakeContentSite::Misbehaviour::kEndlessBody);
//   ASSERT_TRUE(site.Start());
//   DownloadFile(site.BaseUrl() + "vexa.xml", path);     // BaseUrl() is "http://127.0.0.1:N/"
//   EXPECT_EQ(site.CountOf("/vexa.xml"), 1u);
//
// Paths are request targets as sent, query included ("/snd/A.MP3?t=1"); a path given without
// the leading '/' gets one. Every method may be called from any thread, before or after Start.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vexa::testing {

class CFakeContentSite {
  public:
    // statedLength values besides a byte count.
    static constexpr long long kBodyLength = -2;  // Content-Length: body.size()
    static constexpr long long kNoLength = -1;    // no Content-Length; the site closes after it

    // Answers no honest site gives, for the tests of a hostile site.
    enum class Misbehaviour {
        kNone,
        kBrokenChunkSize,  // a chunked body whose second chunk size is not a number
        kHugeHead,         // 1 MiB of header lines before the body
        kTrickleForever,   // no length, then one byte of body per second until the client leaves
        kEndlessBody,      // no length, then body as fast as it is taken until the client leaves
    };

    struct Answer {
        int status = 200;
        std::string body;
        long long statedLength = kBodyLength;
        std::string contentType = "application/octet-stream";
        int delayMs = 0;            // before the response head is sent
        std::size_t chunkSize = 0;  // when > 0 the body goes out in pieces of this size...
        int chunkDelayMs = 0;       // ...with this pause before each piece
        std::string location;       // sent as a Location header when not empty
        bool holdOpen = false;      // after the body the connection stays open, silent, until
                                    // the site stops
        Misbehaviour misbehaviour = Misbehaviour::kNone;
    };

    struct Request {
        std::string method;
        std::string target;  // as sent, query included
        std::string head;    // the whole request head, request line and header lines
    };

    CFakeContentSite();
    ~CFakeContentSite();
    CFakeContentSite(const CFakeContentSite&) = delete;
    CFakeContentSite& operator=(const CFakeContentSite&) = delete;

    // Listens on 127.0.0.1 (port 0: any free port). False when already started or on failure.
    bool Start(int port = 0);
    // Closes the listener and every open connection (pending delays are cut short) and waits
    // for the site's threads. Safe to call twice.
    void Stop();
    int Port() const { return m_port.load(); }
    // "http://127.0.0.1:<port>/"
    std::string BaseUrl() const;

    void SetFile(const std::string& path, std::string body);
    void SetAnswer(const std::string& path, Answer answer);
    void SetNotFound(const std::string& path);
    void SetShortBody(const std::string& path, std::string body, long long statedLength);
    void SetNoLength(const std::string& path, std::string body);
    // Adds a pause before the answer of a path already set (or of the folder's file).
    void SetDelay(const std::string& path, int delayMs);
    // A 302 answer pointing to location.
    void SetRedirect(const std::string& path, const std::string& location);
    void SetMisbehaviour(const std::string& path, Misbehaviour misbehaviour);
    void Remove(const std::string& path);
    // A site that accepts connections and reads requests but never answers (a captive portal,
    // a firewall that drops replies). Connections held silent are answered as usual once it is
    // turned off, and closed without a word when the site stops.
    void SetSilent(bool silent);
    // Paths not in the table are answered from this folder (query and all, relative to it;
    // ".." never leaves it); missing files give 404.
    void ServeFolder(const std::string& folder);

    std::vector<Request> Requests() const;
    std::vector<std::string> Paths() const;
    std::size_t CountOf(const std::string& path) const;
    // Waits until at least n requests have arrived in all; false on time-out.
    bool WaitForRequests(std::size_t n, int timeoutMs) const;
    void ClearLog();

  private:
    struct Connection {
        int fd = -1;
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void AcceptLoop();
    void Serve(Connection* connection);
    bool FindAnswer(const std::string& target, Answer& answer);
    bool PauseFor(int ms);  // false when the site stops meanwhile
    bool Stopping();
    // The body of a misbehaving answer, after its head; returns when the client or the site
    // gives up.
    void SendMisbehaving(int fd, const Answer& answer);
    void ReapFinished(bool all);

    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    std::map<std::string, Answer> m_answers;
    std::map<std::string, int> m_delays;
    std::string m_folder;
    std::vector<Request> m_log;
    bool m_stopping = false;
    bool m_silent = false;

    std::mutex m_connectionsLock;
    std::list<std::unique_ptr<Connection>> m_connections;

    int m_listenFd = -1;
    int m_wakeFds[2] = {-1, -1};
    std::atomic<int> m_port{0};
    std::thread m_acceptThread;
};

}  // namespace vexa::testing
