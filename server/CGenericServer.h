// An abstract threaded TCP server: one accept thread, one helper thread that reaps finished
// connection threads, and one thread per connection that gathers a request, lets the derived
// class answer it and sends the answer back; a thread whose connection ended waits a while to
// serve a later one. Failures go to the run log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "platform/net/CJoinableThread.h"
#include "platform/net/Socket.h"
#include "server/CLog.h"

namespace vexa {

class CGenericServer : public CLog {
  public:
    // The exit code the server threads end with on the desktop platform; kept for the log.
    static constexpr unsigned kThreadExitCode = 4660;
    // A pending request larger than this is no GET request; the connection is closed.
    static constexpr std::size_t kMaxPendingRequest = 64 * 1024;
    static constexpr int kDefaultStartupTimeoutMs = 30000;

    // The part of a reply that is a file: size bytes from offset, sent after the reply's text
    // straight from the file; the server closes it.
    struct SReplyBody {
        std::FILE* file = nullptr;
        std::uint64_t offset = 0;
        std::uint64_t size = 0;
    };
    // Sends bytes on the connection as far as it takes them without waiting: the count taken,
    // -1 when the connection failed.
    using TrySendProc = std::function<long(const char* data, std::size_t size)>;

    CGenericServer();
    // A derived class stops the server in its own destructor: the connection threads call its
    // operations until they end.
    ~CGenericServer() override;
    CGenericServer(const CGenericServer&) = delete;
    CGenericServer& operator=(const CGenericServer&) = delete;

    // Listens on bindAddress:port (0 = any free port) with the client time-out (0 = none).
    // 1 once the accept and helper threads are up, 0 on any failure (the reason is logged).
    int Run(int port, int clientTimeoutMs, const char* bindAddress = "127.0.0.1");
    // Stops every thread. 1 when both server threads ended within 1000 ms, 0 when the server
    // was not running or a thread had to be given up on. Returns after every connection ended.
    int Shutdown();

    bool IsRunning() const { return m_bRunning != 0; }
    // The port given to Run, or the one the system chose when that was 0.
    int ListenPort() const { return m_nPort; }
    // How long Run waits for each server thread to report that it is up.
    void SetStartupTimeoutMs(int ms) { m_nStartupTimeoutMs = ms; }

  protected:
    // On the accept thread, for every accepted connection before its thread starts.
    virtual int OnClientConnect(const char* address, int port) = 0;
    // On the connection thread, after a whole reply was sent.
    virtual int OnBytesSent(unsigned count) = 0;
    // Nonzero when the bytes gathered so far form a complete request.
    virtual int IsRequestComplete(const std::string& request) = 0;
    // Builds the reply for a complete request; 0 closes the connection without one. keepAlive
    // keeps its value between requests of one connection and starts at 0. *reply comes holding
    // an earlier reply of the thread (its storage is there to be reused) and must be set whole.
    virtual int ParseRequest(const std::string& request, std::string* reply, int* keepAlive) = 0;

    // What a connection thread asks for each request. Like ParseRequest (which is what it runs
    // unless overridden), except that the reply's body may be left in *body, with only what
    // goes before it in *reply, and that a first part of the reply may already have been sent
    // through trySend: *reply and *body then hold only the rest.
    virtual int BuildReply(const std::string& request, std::string* reply, int* keepAlive,
                           SReplyBody* body, const TrySendProc& trySend);

    // Starts the thread for an accepted connection; 1 on success. The accept thread's own call.
    int AddClient(platform::SocketHandle socket, const char* address, int port);

  private:
    struct SState;
    struct SStartRecord;

    static void AcceptThread(const std::shared_ptr<SState>& state, CGenericServer* server);
    static void HelperThread(const std::shared_ptr<SState>& state);
    static void WorkerThread(const std::shared_ptr<SState>& state, std::uint64_t id,
                             SStartRecord* first);
    static SStartRecord* NextConnection(SState& state);
    static void ClientThread(SStartRecord* record, std::string& reply);
    void GiveUpServerThreads(SState& state);
    static void WaitForConnections(SState& state);
    static void RemoveClient(platform::SocketHandle socket, SStartRecord* record);

    std::shared_ptr<SState> m_pState;
    platform::CJoinableThread m_acceptThread;
    platform::CJoinableThread m_helperThread;
    int m_nPort = 0;
    int m_nClientTimeout = 0;
    int m_bRunning = 0;
    int m_nStartupTimeoutMs = kDefaultStartupTimeoutMs;
};

}  // namespace vexa
