#include "tests/fakes/CUploadSinkFake.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace vexa::testing {
namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool SendText(int fd, const std::string& text) {
    std::size_t sent = 0;
    while (sent < text.size()) {
        ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

const char* Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

}  // namespace

std::string CUploadSinkFake::Received::Header(const std::string& name) const {
    std::string want = Lower(name) + ":";
    std::size_t pos = head.find("\r\n");
    while (pos != std::string::npos && pos + 2 < head.size()) {
        std::size_t start = pos + 2;
        std::size_t end = head.find("\r\n", start);
        if (end == std::string::npos) break;
        std::string line = head.substr(start, end - start);
        if (Lower(line.substr(0, want.size())) == want) {
            std::string value = line.substr(want.size());
            std::size_t first = value.find_first_not_of(' ');
            return first == std::string::npos ? "" : value.substr(first);
        }
        pos = end;
    }
    return "";
}

std::string CUploadSinkFake::Received::Field(const std::string& name) const {
    std::string marker = "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n";
    std::size_t at = body.find(marker);
    if (at == std::string::npos) return "";
    at += marker.size();
    std::size_t end = body.find("\r\n", at);
    return body.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

CUploadSinkFake::TlsIdentity CUploadSinkFake::MakeIdentity(const std::string& folder,
                                                           const std::string& name,
                                                           const std::string& altNames) {
    TlsIdentity id{folder + "/" + name + ".crt", folder + "/" + name + ".key"};
    std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
        "-nodes -days 2 -subj /CN=" +
        name + " -addext subjectAltName=" + altNames + " -keyout '" + id.keyFile + "' -out '" +
        id.certFile + "' >/dev/null 2>&1";
    std::error_code error;
    if (std::system(command.c_str()) != 0 || !std::filesystem::exists(id.certFile, error))
        return {};
    return id;
}

CUploadSinkFake::CUploadSinkFake() {
    Listen();
}

CUploadSinkFake::CUploadSinkFake(const TlsIdentity& tls) {
    // A client that hangs up mid-reply must not end the test process.
    ::signal(SIGPIPE, SIG_IGN);
    m_tls = SSL_CTX_new(TLS_server_method());
    if (m_tls != nullptr &&
        (SSL_CTX_use_certificate_file(m_tls, tls.certFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
         SSL_CTX_use_PrivateKey_file(m_tls, tls.keyFile.c_str(), SSL_FILETYPE_PEM) != 1)) {
        SSL_CTX_free(m_tls);
        m_tls = nullptr;
    }
    if (m_tls == nullptr) {
        m_acceptor = std::thread([] {});  // port 0: the sink did not start
        return;
    }
    Listen();
}

void CUploadSinkFake::SetReplyBody(const std::string& body) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_hasReplyBody = true;
    m_replyBody = body;
}

void CUploadSinkFake::Listen() {
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    at.sin_port = 0;
    socklen_t len = sizeof at;
    // Port 0 tells the test that the sink could not start.
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
        ::listen(m_listen, 16) == 0 &&
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&at), &len) == 0) {
        m_port = ntohs(at.sin_port);
    }
    m_acceptor = std::thread([this] { AcceptLoop(); });
}

CUploadSinkFake::~CUploadSinkFake() {
    m_stop = true;
    m_acceptor.join();
    std::vector<std::thread> connections;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        connections.swap(m_connections);
    }
    for (auto& t : connections) t.join();
    if (m_listen >= 0) ::close(m_listen);
    if (m_tls != nullptr) SSL_CTX_free(m_tls);
}

void CUploadSinkFake::AcceptLoop() {
    while (!m_stop) {
        pollfd p{m_listen, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ++m_accepted;
        std::lock_guard<std::mutex> guard(m_lock);
        m_connections.emplace_back([this, fd] { Serve(fd); });
    }
}

void CUploadSinkFake::Serve(int fd) {
    int now = ++m_active;
    int seen = m_maxConcurrent.load();
    while (now > seen && !m_maxConcurrent.compare_exchange_weak(seen, now)) {
    }
    // A client that stops sending must not keep the sink from stopping.
    timeval tv{0, 200 * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);

    SSL* ssl = nullptr;
    // > 0: bytes, 0: the end, -1: nothing yet (the receive time-out), -2: broken.
    auto readSome = [&](char* to, std::size_t size) -> long {
        if (ssl == nullptr) {
            ssize_t n = ::recv(fd, to, size, 0);
            return n >= 0 ? static_cast<long>(n) : (errno == EAGAIN ? -1 : -2);
        }
        int n = SSL_read(ssl, to, static_cast<int>(std::min<std::size_t>(size, 1 << 30)));
        if (n > 0) return n;
        int error = SSL_get_error(ssl, n);
        if (error == SSL_ERROR_ZERO_RETURN) return 0;
        return error == SSL_ERROR_WANT_READ ? -1 : -2;
    };
    auto sendText = [&](const std::string& text) {
        if (ssl == nullptr) return SendText(fd, text);
        return text.empty() || SSL_write(ssl, text.data(), static_cast<int>(text.size())) > 0;
    };
    bool handshaken = m_tls == nullptr;
    if (m_tls != nullptr && (ssl = SSL_new(m_tls)) != nullptr && SSL_set_fd(ssl, fd) == 1) {
        for (int idle = 0; idle < 25 && !m_stop && !handshaken; ++idle) {
            int rc = SSL_accept(ssl);
            if (rc == 1)
                handshaken = true;
            else if (SSL_get_error(ssl, rc) != SSL_ERROR_WANT_READ)
                break;
        }
        ERR_clear_error();
    }

    Received got;
    std::string data;
    char buffer[65536];
    auto receive = [&]() -> bool {
        for (int idle = 0; idle < 25 && !m_stop; ++idle) {  // up to 5 s without a byte
            long n = readSome(buffer, sizeof buffer);
            if (n > 0) {
                data.append(buffer, static_cast<std::size_t>(n));
                return true;
            }
            if (n == 0 || n == -2) return false;
        }
        return false;
    };
    bool complete = false;
    std::size_t headEnd;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
        if (!handshaken || !receive()) break;
        if (data.rfind("\x16\x03", 0) == 0) break;  // a TLS client at a plain sink: no request
    }
    if (headEnd != std::string::npos) {
        got.head = data.substr(0, headEnd + 4);
        data.erase(0, headEnd + 4);
        std::size_t sp1 = got.head.find(' ');
        std::size_t sp2 = got.head.find(' ', sp1 + 1);
        got.method = got.head.substr(0, sp1);
        got.path = got.head.substr(sp1 + 1, sp2 - sp1 - 1);
        std::string length = got.Header("Content-Length");
        got.lengthAnnounced = !length.empty();
        if (got.lengthAnnounced) got.announcedLength = std::strtoull(length.c_str(), nullptr, 10);
        if (Lower(got.Header("Expect")) == "100-continue") {
            sendText("HTTP/1.1 100 Continue\r\n\r\n");
        }
        if (got.lengthAnnounced) {
            while (data.size() < got.announcedLength && receive()) {
            }
        } else if (got.method != "GET") {
            while (receive()) {
            }
        }
        got.body = data;
        complete = true;
        std::lock_guard<std::mutex> guard(m_lock);
        m_requests.push_back(got);
        m_arrived.notify_all();
    }
    if (complete) {
        int delay = m_delayMs.load();
        if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    }
    // Before the reply: once the client has it, its next request may come at once, and that
    // is no overlap.
    --m_active;
    if (complete) {
        int status = m_status.load();
        std::string text = "reply " + std::to_string(status);
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_hasReplyBody) text = m_replyBody;
        }
        sendText("HTTP/1.1 " + std::to_string(status) + " " + Reason(status) +
                 "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(text.size()) +
                 "\r\nConnection: close\r\n\r\n" + text);
    }
    if (ssl != nullptr) {
        if (handshaken) SSL_shutdown(ssl);
        SSL_free(ssl);
    }
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
}

bool CUploadSinkFake::WaitForRequests(std::size_t n, int timeoutMs) {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_arrived.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_requests.size() >= n; });
}

std::vector<CUploadSinkFake::Received> CUploadSinkFake::Requests() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_requests;
}

}  // namespace vexa::testing
