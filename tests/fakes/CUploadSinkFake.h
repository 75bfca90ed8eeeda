// A loopback HTTP server that takes POSTs (and GETs), keeps every request byte for byte and
// answers with a chosen status. It speaks plain HTTP, or HTTPS with a certificate the test makes.
// Each connection is served on its own thread; everything stops with the object.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

typedef struct ssl_ctx_st SSL_CTX;

namespace vexa::testing {

class CUploadSinkFake {
  public:
    struct Received {
        std::string method;
        std::string path;
        std::string head;  // request line and header lines, up to and including the blank line
        std::string body;
        bool lengthAnnounced = false;
        std::uint64_t announcedLength = 0;
        // The header's value ("" when absent); the name is matched without regard to case.
        std::string Header(const std::string& name) const;
        // The value of a simple form field in a multipart body ("" when absent).
        std::string Field(const std::string& name) const;
    };

    // A private key and its self-signed certificate, both PEM files.
    struct TlsIdentity {
        std::string certFile;
        std::string keyFile;
    };
    // Makes one with `openssl req` in folder, for the subjectAltName list altNames (such as
    // "IP:127.0.0.1,DNS:localhost"); empty file names when that failed.
    static TlsIdentity MakeIdentity(const std::string& folder, const std::string& name,
                                    const std::string& altNames);

    // Listens on 127.0.0.1 on a free port.
    CUploadSinkFake();
    // The same over TLS with this identity; a client that does not complete the handshake
    // leaves no request behind.
    explicit CUploadSinkFake(const TlsIdentity& tls);
    ~CUploadSinkFake();
    CUploadSinkFake(const CUploadSinkFake&) = delete;
    CUploadSinkFake& operator=(const CUploadSinkFake&) = delete;

    int Port() const { return m_port; }
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(m_port); }
    void SetStatus(int status) { m_status = status; }
    // The body of every reply (by default "reply " and the status).
    void SetReplyBody(const std::string& body);
    // Waits this long after reading a request before answering it.
    void SetReplyDelayMs(int ms) { m_delayMs = ms; }

    // Waits up to timeoutMs for n requests in all; true when they have come.
    bool WaitForRequests(std::size_t n, int timeoutMs);
    std::vector<Received> Requests() const;
    // The most requests in progress at one time (from the connection to the reply).
    int MaxConcurrent() const { return m_maxConcurrent.load(); }
    // Connections accepted, whether a request came over them or not.
    int Connections() const { return m_accepted.load(); }

  private:
    void Listen();
    void AcceptLoop();
    void Serve(int fd);

    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_status{200};
    std::atomic<int> m_delayMs{0};
    std::atomic<int> m_active{0};
    std::atomic<int> m_maxConcurrent{0};
    std::atomic<int> m_accepted{0};
    SSL_CTX* m_tls = nullptr;
    bool m_hasReplyBody = false;
    std::string m_replyBody;  // under m_lock
    mutable std::mutex m_lock;
    std::condition_variable m_arrived;
    std::vector<Received> m_requests;
    std::vector<std::thread> m_connections;
    std::thread m_acceptor;
};

}  // namespace vexa::testing
