#include "server/CGenericServer.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <mutex>

#include "platform/net/CManualResetEvent.h"

namespace vexa {

using platform::CJoinableThread;
using platform::EWaitResult;
using platform::SocketHandle;

namespace {
constexpr int kServerThreadWaitMs = 1000;
constexpr int kHelperPollMs = 100;
constexpr std::size_t kReceiveBufferSize = 100000;
constexpr std::size_t kMaxSendPiece = 200000;
constexpr std::size_t kMaxSendFilePiece = 1024 * 1024;
// The receive buffer and a fetch fit well; the system's 8 MiB default would keep few stacks
// cached, so a short connection would pay for mapping a fresh one.
constexpr std::size_t kConnectionStackBytes = 1024 * 1024;
// Accepts taken per wake-up, so a flood of connections cannot hold off the shutdown event.
constexpr int kAcceptsPerRound = 64;
// A connection thread that has served its connection waits this long for the next one before it
// ends, and at most this many wait at a time. Starting a thread, mapping its stack and touching
// its receive buffer cost more than a short connection's whole exchange; reusing one costs a
// wake-up.
constexpr int kIdleWorkerMs = 10000;
constexpr int kMaxIdleWorkers = 64;
// A reply buffer larger than this is not kept for the thread's next connection.
constexpr std::size_t kKeptReplyBytes = 4 * 1024 * 1024;

enum class ESendOutcome { kDone, kPending, kFailed };
}  // namespace

// Everything the server threads share. Each thread holds it by shared ownership, so a thread
// the server had to give up on never touches freed memory; the server object itself is only
// entered under serverUse while abandoned is false.
struct CGenericServer::SState {
    platform::CManualResetEvent shutdown;

    // The connection threads. Each serves one connection at a time, from its accept to its
    // close, and then waits a while for another.
    struct SWorker {
        std::uint64_t id = 0;
        CJoinableThread thread;
    };
    std::mutex clientLock;
    // Notified when the last connection and the last connection thread are gone.
    std::condition_variable clientsGone;
    std::list<SWorker> workers;
    int workerCount = 0;
    int clientCount = 0;  // connections being served or waiting for a thread
    std::uint64_t nextWorkerId = 1;
    // Accepted connections handed to idle threads, and the count of those threads.
    std::deque<SStartRecord*> waiting;
    int idleWorkers = 0;
    std::condition_variable workCv;
    bool stopping = false;

    std::mutex finishedLock;
    std::list<CJoinableThread> finished;

    // The start-up event: auto-reset, each server thread sets it once when it is up.
    std::mutex startLock;
    std::condition_variable startCv;
    bool started = false;
    bool startFailed = false;

    std::mutex serverUse;
    bool abandoned = false;

    std::string bindAddress;
    int port = 0;
    int clientTimeoutMs = 0;
    std::atomic<int> boundPort{0};

    // Tells every thread to end: the waiting ones at once, the others at their next wait.
    void Stop() {
        shutdown.Signal();
        std::lock_guard<std::mutex> g(clientLock);
        stopping = true;
        workCv.notify_all();
    }
    bool AllGone() const { return clientCount == 0 && workerCount == 0; }

    void SignalStarted() {
        std::lock_guard<std::mutex> g(startLock);
        started = true;
        startCv.notify_all();
    }
    // A thread that ended without coming up says so, so that the start fails at once instead
    // of waiting out its time.
    void SignalStartFailed() {
        std::lock_guard<std::mutex> g(startLock);
        startFailed = true;
        startCv.notify_all();
    }
    bool WaitStarted(int timeoutMs) {
        std::unique_lock<std::mutex> g(startLock);
        startCv.wait_for(g, std::chrono::milliseconds(timeoutMs),
                         [this] { return started || startFailed; });
        bool ok = started;
        started = false;
        startFailed = false;
        return ok;
    }
};

struct CGenericServer::SStartRecord {
    std::shared_ptr<SState> state;
    CGenericServer* server = nullptr;
    SocketHandle socket = platform::kInvalidSocket;
};

CGenericServer::CGenericServer() = default;

CGenericServer::~CGenericServer() {
    // Only a safety net: by now the derived part is gone, so it must have stopped already.
    if (m_bRunning) Shutdown();
}

int CGenericServer::Run(int port, int clientTimeoutMs, const char* bindAddress) {
    if (m_bRunning) {
        WriteLog("_beginthreadex(...) failure, for Launch Thread", "Run", errno);
        return 0;
    }
    m_nPort = port;
    m_nClientTimeout = clientTimeoutMs;
    auto state = std::make_shared<SState>();
    state->bindAddress = bindAddress != nullptr ? bindAddress : "127.0.0.1";
    state->port = port;
    state->clientTimeoutMs = clientTimeoutMs;

    // Published before any thread starts, so the accept thread finds it in AddClient.
    m_pState = state;
    auto fail = [&]() {
        // Whatever thread got going is told to stop and is not waited for beyond a second.
        state->Stop();
        bool acceptEnded = m_acceptThread.WaitFor(kServerThreadWaitMs);
        bool helperEnded = m_helperThread.WaitFor(kServerThreadWaitMs);
        if (!acceptEnded || !helperEnded) GiveUpServerThreads(*state);
        // The accept thread may have taken connections while the helper was starting.
        WaitForConnections(*state);
        m_pState.reset();
        return 0;
    };

    int error = 0;
    if (!m_acceptThread.Start([state, this] { AcceptThread(state, this); }, &error)) {
        WriteLog("_beginthreadex(...) failure, for Launch Thread", "Run", error);
        m_pState.reset();
        return 0;
    }
    if (!state->WaitStarted(m_nStartupTimeoutMs)) {
        WriteLog("Unable to get response from Accept Thread withing specified Timeout ->", "Run",
                 m_nStartupTimeoutMs);
        return fail();
    }
    if (!m_helperThread.Start([state] { HelperThread(state); }, &error)) {
        WriteLog("_beginthreadex(...) failure, for Helper Thread", "Run", error);
        return fail();
    }
    if (!state->WaitStarted(m_nStartupTimeoutMs)) {
        WriteLog("Unable to get response from Helper Thread within specified Timeout ->", "Run",
                 m_nStartupTimeoutMs);
        return fail();
    }
    if (port == 0) m_nPort = state->boundPort.load();
    m_bRunning = 1;
    return 1;
}

int CGenericServer::Shutdown() {
    if (!m_bRunning) return 0;
    SState& state = *m_pState;
    state.Stop();

    int result = 1;
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kServerThreadWaitMs);
    auto remainingMs = [&deadline]() {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        return static_cast<int>(std::max<std::int64_t>(0, left.count()));
    };
    bool acceptEnded = m_acceptThread.WaitFor(remainingMs());
    bool helperEnded = m_helperThread.WaitFor(remainingMs());
    if (!acceptEnded || !helperEnded) {
        WriteLog("WaitForMultipleObjects(...) timed out", "Shutdown", 0);
        GiveUpServerThreads(state);
        result = 0;
    }

    WaitForConnections(state);
    m_pState.reset();
    m_bRunning = 0;
    return result;
}

void CGenericServer::WaitForConnections(SState& state) {
    {
        std::unique_lock<std::mutex> g(state.clientLock);
        state.clientsGone.wait(g, [&state] { return state.AllGone(); });
    }
    // Threads the helper did not reap before it ended have left their last lock; their exit is
    // only moments away.
    std::list<CJoinableThread> finished;
    {
        std::lock_guard<std::mutex> g(state.finishedLock);
        finished.swap(state.finished);
    }
    for (CJoinableThread& t : finished)
        if (!t.WaitFor(kServerThreadWaitMs)) t.Abandon();
}

void CGenericServer::GiveUpServerThreads(SState& state) {
    // A thread cannot be ended from outside; it is left to finish on the shared state, and from
    // here on it may not enter this object (an accept in progress is let through first).
    m_acceptThread.Abandon();
    m_helperThread.Abandon();
    std::lock_guard<std::mutex> g(state.serverUse);
    state.abandoned = true;
}

void CGenericServer::AcceptThread(const std::shared_ptr<SState>& state, CGenericServer* server) {
    // Every way out before the listener is up tells Run so.
    struct SStartReport {
        SState& state;
        bool up = false;
        ~SStartReport() {
            if (!up) state.SignalStartFailed();
        }
    } report{*state};
    SocketHandle listener = platform::OpenStreamSocket();
    if (listener == platform::kInvalidSocket) {
        WriteLogLine("WSASocket(...) failure", "AcceptThread", platform::LastSocketError());
        return;
    }
    if (!platform::BindIPv4(listener, state->bindAddress.c_str(), state->port)) {
        WriteLogLine("bind(...) failure", "AcceptThread", platform::LastSocketError());
        platform::CloseSocket(listener);
        return;
    }
    if (!platform::ListenSocket(listener)) {
        WriteLogLine("listen(...) failure", "AcceptThread", platform::LastSocketError());
        platform::CloseSocket(listener);
        return;
    }
    if (!state->shutdown.IsValid()) {
        WriteLogLine("WSACreateEvent(...) failure for ShutdownEvent", "AcceptThread", errno);
        platform::CloseSocket(listener);
        return;
    }
    if (!platform::SetNonBlocking(listener)) {
        WriteLogLine("WSAEventSelect(...) failure", "AcceptThread", platform::LastSocketError());
        platform::CloseSocket(listener);
        return;
    }
    state->boundPort = platform::BoundPort(listener);
    report.up = true;
    state->SignalStarted();

    for (;;) {
        EWaitResult r =
            platform::WaitSocketOrEvent(listener, true, false, state->shutdown, -1, nullptr);
        if (r == EWaitResult::kFailed) {
            WriteLogLine("WaitForMultipleObjects(...) failure", "AcceptThread",
                         platform::LastSocketError());
            break;
        }
        if (r != EWaitResult::kSocket) break;
        for (int i = 0; i < kAcceptsPerRound; ++i) {
            std::string address;
            int peerPort = 0;
            SocketHandle s = platform::AcceptSocket(listener, &address, &peerPort);
            if (s == platform::kInvalidSocket) {
                int error = platform::LastSocketError();
                if (platform::IsWouldBlock(error)) break;
                WriteLogLine("WSAAccept(...) failure", "AcceptThread", error);
                // Out of descriptors the listener stays readable; pause instead of spinning.
                if (platform::IsOutOfDescriptors(error)) state->shutdown.Wait(kHelperPollMs);
                break;
            }
            std::lock_guard<std::mutex> g(state->serverUse);
            if (state->abandoned) {
                platform::CloseSocket(s);
                break;
            }
            if (server->AddClient(s, address.c_str(), peerPort) == 0)
                WriteLogLine("AddClient(...) failure", "AcceptThread", 0);
        }
    }
    platform::CloseSocket(listener);
}

int CGenericServer::AddClient(SocketHandle socket, const char* address, int port) {
    OnClientConnect(address, port);
    std::shared_ptr<SState> state = m_pState;
    std::unique_lock<std::mutex> g(state->clientLock);
    auto* record = new SStartRecord{state, this, socket};
    // An idle thread that is not yet spoken for takes it. It is woken once the lock is free, so
    // that it does not wake only to wait for it.
    if (static_cast<std::size_t>(state->idleWorkers) > state->waiting.size()) {
        state->waiting.push_back(record);
        ++state->clientCount;
        g.unlock();
        state->workCv.notify_one();
        return 1;
    }
    state->workers.emplace_back();
    SState::SWorker& entry = state->workers.back();
    entry.id = state->nextWorkerId++;
    std::uint64_t id = entry.id;
    int error = 0;
    if (!entry.thread.Start([state, id, record] { WorkerThread(state, id, record); }, &error,
                            kConnectionStackBytes)) {
        WriteLogLine("_beginthreadex(...) failure", "AddClient", error);
        state->workers.pop_back();
        delete record;
        // Nobody else will ever close it.
        platform::CloseSocket(socket);
        return 0;
    }
    ++state->workerCount;
    ++state->clientCount;
    return 1;
}

void CGenericServer::WorkerThread(const std::shared_ptr<SState>& state, std::uint64_t id,
                                  SStartRecord* first) {
    // The reply buffer outlives each connection, so a file of the size last sent needs no new
    // allocation (and no fresh pages) for the next one.
    std::string reply;
    for (SStartRecord* record = first; record != nullptr; record = NextConnection(*state)) {
        ClientThread(record, reply);
        if (reply.capacity() > kKeptReplyBytes) std::string().swap(reply);
    }
    // Handed to the helper to be joined once this thread has returned.
    std::lock_guard<std::mutex> g(state->clientLock);
    auto it = std::find_if(state->workers.begin(), state->workers.end(),
                           [id](const SState::SWorker& w) { return w.id == id; });
    if (it == state->workers.end()) {
        WriteLogLine("Thread not found in the list", "ClientThread", 0);
    } else {
        std::lock_guard<std::mutex> f(state->finishedLock);
        state->finished.push_back(std::move(it->thread));
        state->workers.erase(it);
    }
    --state->workerCount;
    if (state->AllGone()) state->clientsGone.notify_all();
}

CGenericServer::SStartRecord* CGenericServer::NextConnection(SState& state) {
    std::unique_lock<std::mutex> g(state.clientLock);
    if (state.stopping || state.idleWorkers >= kMaxIdleWorkers) return nullptr;
    ++state.idleWorkers;
    // A connection handed over while the server stops is still taken: its thread sees the
    // shutdown at once and closes it.
    state.workCv.wait_for(g, std::chrono::milliseconds(kIdleWorkerMs),
                          [&state] { return state.stopping || !state.waiting.empty(); });
    --state.idleWorkers;
    if (state.waiting.empty()) return nullptr;
    SStartRecord* record = state.waiting.front();
    state.waiting.pop_front();
    return record;
}

void CGenericServer::HelperThread(const std::shared_ptr<SState>& state) {
    state->SignalStarted();
    while (!state->shutdown.Wait(kHelperPollMs)) {
        // Taken out of the list first, so RemoveClient never waits behind a slow join.
        std::list<CJoinableThread> finished;
        {
            std::lock_guard<std::mutex> g(state->finishedLock);
            finished.swap(state->finished);
        }
        for (CJoinableThread& t : finished) {
            if (!t.WaitFor(kServerThreadWaitMs)) {
                WriteLogLine("WaitForSingleObject(...) timed out", "HelperThread", 0);
                t.Abandon();
            }
        }
    }
}

namespace {

// Sends the reply's text, then its file part; *sent counts both.
ESendOutcome SendReply(SocketHandle s, const std::string& reply, CGenericServer::SReplyBody& body,
                       std::size_t* sent) {
    while (*sent < reply.size()) {
        std::size_t piece = std::min(reply.size() - *sent, kMaxSendPiece);
        // A head followed by a file goes out with the file's first bytes, not on its own.
        long n = platform::SendSome(s, reply.data() + *sent, piece, body.size > 0);
        if (n < 0) {
            int error = platform::LastSocketError();
            if (platform::IsWouldBlock(error)) return ESendOutcome::kPending;
            CLog::WriteLogLine("WSASend(...) failure", "ClientThread, Primary Send", error);
            return ESendOutcome::kFailed;
        }
        *sent += static_cast<std::size_t>(n);
    }
    while (body.size > 0) {
        std::size_t piece =
            static_cast<std::size_t>(std::min<std::uint64_t>(body.size, kMaxSendFilePiece));
        long n = platform::SendFileSome(s, body.file, body.offset, piece);
        if (n < 0) {
            int error = platform::LastSocketError();
            if (platform::IsWouldBlock(error)) return ESendOutcome::kPending;
            CLog::WriteLogLine("TransmitFile(...) failure", "ClientThread, Primary Send", error);
            return ESendOutcome::kFailed;
        }
        if (n == 0) {
            // Cut short under us: the head promised more than there is.
            CLog::WriteLogLine("File ended before the length sent", "ClientThread, Primary Send",
                               static_cast<int>(body.size));
            return ESendOutcome::kFailed;
        }
        body.offset += static_cast<std::uint64_t>(n);
        body.size -= static_cast<std::uint64_t>(n);
        *sent += static_cast<std::size_t>(n);
    }
    return ESendOutcome::kDone;
}

void CloseBody(CGenericServer::SReplyBody& body) {
    if (body.file != nullptr) std::fclose(body.file);
    body = CGenericServer::SReplyBody();
}

}  // namespace

int CGenericServer::BuildReply(const std::string& request, std::string* reply, int* keepAlive,
                               SReplyBody*, const TrySendProc&) {
    return ParseRequest(request, reply, keepAlive);
}

void CGenericServer::ClientThread(SStartRecord* record, std::string& reply) {
    SState& state = *record->state;
    CGenericServer* server = record->server;
    SocketHandle s = record->socket;

    SReplyBody body;
    // Whichever way the connection ends, a file still being sent is closed.
    struct SBodyGuard {
        SReplyBody& body;
        ~SBodyGuard() { CloseBody(body); }
    } bodyGuard{body};
    const TrySendProc trySend = [s](const char* data, std::size_t size) -> long {
        std::size_t done = 0;
        while (done < size) {
            long n = platform::SendSome(s, data + done, std::min(size - done, kMaxSendPiece));
            if (n < 0) {
                if (platform::IsWouldBlock(platform::LastSocketError())) break;
                return -1;
            }
            done += static_cast<std::size_t>(n);
        }
        return static_cast<long>(done);
    };

    std::string request;
    int keepAlive = 0;
    bool sendPending = false;
    std::size_t sent = 0;
    char buffer[kReceiveBufferSize];
    int timeout = state.clientTimeoutMs > 0 ? state.clientTimeoutMs : -1;

    // After a whole reply: the next request starts from scratch, or the connection ends.
    auto replyDone = [&]() {
        sendPending = false;
        request.clear();
        CloseBody(body);
        server->OnBytesSent(static_cast<unsigned>(sent));
        return keepAlive != 0;
    };

    for (;;) {
        platform::SSocketEvents ev;
        // While a reply is pending nothing more is read, so a further request cannot replace
        // the reply before it is out; it waits in the socket.
        EWaitResult r =
            platform::WaitSocketOrEvent(s, !sendPending, sendPending, state.shutdown, timeout, &ev);
        if (r == EWaitResult::kFailed) {
            WriteLogLine("WSAWaitForMultipleEvents(...) failure", "ClientThread",
                         platform::LastSocketError());
            RemoveClient(s, record);
            return;
        }
        if (r != EWaitResult::kSocket) {
            RemoveClient(s, record);
            return;
        }
        // Data that came before a close is read first; the close shows up as an empty read.
        bool closed = ev.closed && !ev.readable;

        if (ev.readable) {
            long n = platform::ReceiveSome(s, buffer, sizeof buffer);
            if (n < 0) {
                int error = platform::LastSocketError();
                if (!platform::IsWouldBlock(error)) {
                    WriteLogLine("WSARecv(...) failure", "ClientThread", error);
                    closed = ev.closed;
                }
            } else if (n == 0) {
                closed = true;
            } else {
                request.append(buffer, static_cast<std::size_t>(n));
                if (request.size() > kMaxPendingRequest) {
                    WriteLogLine("Request exceeds the size limit, connection closed",
                                 "ClientThread", static_cast<int>(request.size()));
                    RemoveClient(s, record);
                    return;
                }
                if (server->IsRequestComplete(request) != 0) {
                    if (server->BuildReply(request, &reply, &keepAlive, &body, trySend) == 0) {
                        RemoveClient(s, record);
                        return;
                    }
                    sent = 0;
                    ESendOutcome out = SendReply(s, reply, body, &sent);
                    if (out == ESendOutcome::kFailed) {
                        keepAlive = 0;
                        RemoveClient(s, record);
                        return;
                    }
                    if (out == ESendOutcome::kPending) {
                        sendPending = true;
                        continue;
                    }
                    if (!replyDone()) {
                        RemoveClient(s, record);
                        return;
                    }
                }
            }
        }

        if (ev.writable && sendPending) {
            ESendOutcome out = SendReply(s, reply, body, &sent);
            if (out == ESendOutcome::kFailed) {
                keepAlive = 0;
                RemoveClient(s, record);
                return;
            }
            if (out == ESendOutcome::kDone && !replyDone()) {
                RemoveClient(s, record);
                return;
            }
        }

        if (closed) {
            RemoveClient(s, record);
            return;
        }
    }
}

void CGenericServer::RemoveClient(SocketHandle socket, SStartRecord* record) {
    platform::CloseSocket(socket);
    // Keeps the state alive through the unlock below even though the record goes.
    std::shared_ptr<SState> state = std::move(record->state);
    delete record;
    std::lock_guard<std::mutex> g(state->clientLock);
    --state->clientCount;
    if (state->AllGone()) state->clientsGone.notify_all();
}

}  // namespace vexa
