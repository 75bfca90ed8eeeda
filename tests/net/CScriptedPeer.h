// A loopback peer for the raw-socket client: accepts connections one after another, reads each
// request header and answers with scripted bytes, then closes or holds the connection open.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vexa::testing {

class CScriptedPeer {
  public:
    struct Exchange {
        std::string reply;  // sent after the request header has arrived
        int holdMs = 0;     // then the connection stays open this long (or until the client closes)
        bool close = true;  // false: the next Exchange is served on the same connection
    };

    explicit CScriptedPeer(std::vector<Exchange> script) : m_script(std::move(script)) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof at;
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
            ::listen(m_listen, 4) == 0 &&
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&at), &len) == 0) {
            m_port = ntohs(at.sin_port);
        }
        m_thread = std::thread([this] { Run(); });
    }
    ~CScriptedPeer() {
        m_stop = true;
        m_thread.join();
        ::close(m_listen);
    }
    CScriptedPeer(const CScriptedPeer&) = delete;
    CScriptedPeer& operator=(const CScriptedPeer&) = delete;

    int Port() const { return m_port; }
    std::vector<std::string> Requests() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_requests;
    }

  private:
    // Waits for the fd to be readable for up to ms, giving up early when the peer is stopped.
    bool Readable(int fd, int ms) {
        for (int waited = 0; waited < ms && !m_stop; waited += 20) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) return true;
        }
        return false;
    }
    void Run() {
        std::size_t step = 0;
        while (step < m_script.size() && !m_stop) {
            if (!Readable(m_listen, 5000)) return;
            int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) return;
            bool open = true;
            while (open && step < m_script.size()) {
                const Exchange& ex = m_script[step++];
                std::string request;
                char c;
                while (request.size() < 4 || request.compare(request.size() - 4, 4, "\r\n\r\n")) {
                    if (!Readable(fd, 5000) || ::recv(fd, &c, 1, 0) != 1) break;
                    request += c;
                }
                {
                    std::lock_guard<std::mutex> guard(m_lock);
                    m_requests.push_back(request);
                }
                ::send(fd, ex.reply.data(), ex.reply.size(), MSG_NOSIGNAL);
                if (ex.holdMs > 0 && Readable(fd, ex.holdMs)) {
                    // the client has closed its end or sent more; either way the hold is over
                }
                open = !ex.close;
            }
            ::close(fd);
        }
    }

    std::vector<Exchange> m_script;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_lock;
    std::vector<std::string> m_requests;
    std::thread m_thread;
};

}  // namespace vexa::testing
