#include "tests/fakes/CFakeContentSite.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

namespace vexa::testing {

namespace {

std::string Normalise(const std::string& path) {
    return !path.empty() && path[0] == '/' ? path : "/" + path;
}

const char* ReasonOf(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

bool SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

CFakeContentSite::CFakeContentSite() = default;

CFakeContentSite::~CFakeContentSite() {
    Stop();
}

bool CFakeContentSite::Start(int port) {
    if (m_acceptThread.joinable()) return false;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 64) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        pipe2(m_wakeFds, O_CLOEXEC) != 0) {
        close(fd);
        return false;
    }
    m_listenFd = fd;
    m_port = ntohs(addr.sin_port);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = false;
    }
    m_acceptThread = std::thread([this] { AcceptLoop(); });
    return true;
}

void CFakeContentSite::Stop() {
    if (!m_acceptThread.joinable()) return;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
    }
    m_changed.notify_all();
    char byte = 1;
    (void)!write(m_wakeFds[1], &byte, 1);
    m_acceptThread.join();
    {
        std::lock_guard<std::mutex> guard(m_connectionsLock);
        for (auto& c : m_connections) shutdown(c->fd, SHUT_RDWR);
    }
    ReapFinished(true);
    close(m_listenFd);
    close(m_wakeFds[0]);
    close(m_wakeFds[1]);
    m_listenFd = m_wakeFds[0] = m_wakeFds[1] = -1;
}

std::string CFakeContentSite::BaseUrl() const {
    return "http://127.0.0.1:" + std::to_string(m_port.load()) + "/";
}

void CFakeContentSite::SetFile(const std::string& path, std::string body) {
    Answer answer;
    answer.body = std::move(body);
    SetAnswer(path, std::move(answer));
}

void CFakeContentSite::SetAnswer(const std::string& path, Answer answer) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_answers[Normalise(path)] = std::move(answer);
}

void CFakeContentSite::SetNotFound(const std::string& path) {
    Answer answer;
    answer.status = 404;
    answer.body = "<html><body>Not Found</body></html>";
    answer.contentType = "text/html";
    SetAnswer(path, std::move(answer));
}

void CFakeContentSite::SetShortBody(const std::string& path, std::string body,
                                    long long statedLength) {
    Answer answer;
    answer.body = std::move(body);
    answer.statedLength = statedLength;
    SetAnswer(path, std::move(answer));
}

void CFakeContentSite::SetNoLength(const std::string& path, std::string body) {
    Answer answer;
    answer.body = std::move(body);
    answer.statedLength = kNoLength;
    SetAnswer(path, std::move(answer));
}

void CFakeContentSite::SetDelay(const std::string& path, int delayMs) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_delays[Normalise(path)] = delayMs;
}

void CFakeContentSite::SetRedirect(const std::string& path, const std::string& location) {
    Answer answer;
    answer.status = 302;
    answer.location = location;
    answer.contentType = "text/html";
    SetAnswer(path, std::move(answer));
}

void CFakeContentSite::SetMisbehaviour(const std::string& path, Misbehaviour misbehaviour) {
    Answer answer;
    answer.body = "good bytes ";
    answer.misbehaviour = misbehaviour;
    SetAnswer(path, std::move(answer));
}

void CFakeContentSite::Remove(const std::string& path) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_answers.erase(Normalise(path));
    m_delays.erase(Normalise(path));
}

void CFakeContentSite::SetSilent(bool silent) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_silent = silent;
    }
    m_changed.notify_all();
}

void CFakeContentSite::ServeFolder(const std::string& folder) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_folder = folder;
}

std::vector<CFakeContentSite::Request> CFakeContentSite::Requests() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_log;
}

std::vector<std::string> CFakeContentSite::Paths() const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<std::string> paths;
    for (const auto& r : m_log) paths.push_back(r.target);
    return paths;
}

std::size_t CFakeContentSite::CountOf(const std::string& path) const {
    std::string target = Normalise(path);
    std::lock_guard<std::mutex> guard(m_lock);
    std::size_t n = 0;
    for (const auto& r : m_log) n += r.target == target ? 1 : 0;
    return n;
}

bool CFakeContentSite::WaitForRequests(std::size_t n, int timeoutMs) const {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_log.size() >= n; });
}

void CFakeContentSite::ClearLog() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_log.clear();
}

void CFakeContentSite::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakeFds[0], POLLIN, 0}};
        int ready = poll(fds, 2, 100);
        ReapFinished(false);
        if (ready < 0 && errno != EINTR) return;
        if (fds[1].revents != 0) return;
        if (ready <= 0 || (fds[0].revents & POLLIN) == 0) continue;
        int client = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        auto connection = std::make_unique<Connection>();
        connection->fd = client;
        Connection* raw = connection.get();
        std::lock_guard<std::mutex> guard(m_connectionsLock);
        m_connections.push_back(std::move(connection));
        raw->thread = std::thread([this, raw] { Serve(raw); });
    }
}

void CFakeContentSite::ReapFinished(bool all) {
    std::list<std::unique_ptr<Connection>> finished;
    {
        std::lock_guard<std::mutex> guard(m_connectionsLock);
        for (auto it = m_connections.begin(); it != m_connections.end();) {
            if (all || (*it)->done.load()) {
                finished.push_back(std::move(*it));
                it = m_connections.erase(it);
            } else {
                ++it;
            }
        }
    }
    // The descriptor is closed only after its thread has ended, so Stop never shuts down a
    // number that was already reused.
    for (auto& c : finished) {
        if (c->thread.joinable()) c->thread.join();
        close(c->fd);
    }
}

bool CFakeContentSite::PauseFor(int ms) {
    if (ms <= 0) return true;
    std::unique_lock<std::mutex> guard(m_lock);
    return !m_changed.wait_for(guard, std::chrono::milliseconds(ms), [&] { return m_stopping; });
}

bool CFakeContentSite::Stopping() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_stopping;
}

void CFakeContentSite::SendMisbehaving(int fd, const Answer& answer) {
    using M = Misbehaviour;
    switch (answer.misbehaviour) {
        case M::kBrokenChunkSize: {
            std::string body = std::to_string(answer.body.size()) + "\r\n" + answer.body +
                               "\r\nzz-not-a-size\r\nmore\r\n0\r\n\r\n";
            SendAll(fd, body.data(), body.size());
            return;
        }
        case M::kHugeHead: {
            const std::string line = "X-Filler: " + std::string(1000, 'h') + "\r\n";
            bool ok = true;
            for (std::size_t sent = 0; ok && sent < (1u << 20); sent += line.size())
                ok = SendAll(fd, line.data(), line.size());
            std::string rest =
                "Content-Length: " + std::to_string(answer.body.size()) + "\r\n\r\n" + answer.body;
            if (ok) SendAll(fd, rest.data(), rest.size());
            return;
        }
        case M::kTrickleForever:
            for (std::size_t i = 0; PauseFor(1000); ++i) {
                char byte = answer.body.empty() ? 'x' : answer.body[i % answer.body.size()];
                if (!SendAll(fd, &byte, 1)) return;
            }
            return;
        case M::kEndlessBody: {
            std::string block(64 * 1024, 'e');
            while (!Stopping() && SendAll(fd, block.data(), block.size())) {
            }
            return;
        }
        case M::kNone:
            return;
    }
}

bool CFakeContentSite::FindAnswer(const std::string& target, Answer& answer) {
    std::string folder;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto delay = m_delays.find(target);
        auto it = m_answers.find(target);
        if (it != m_answers.end()) {
            answer = it->second;
            if (delay != m_delays.end()) answer.delayMs = delay->second;
            return true;
        }
        if (delay != m_delays.end()) answer.delayMs = delay->second;
        folder = m_folder;
    }
    if (folder.empty() || target.find("..") != std::string::npos) return false;
    std::ifstream in(folder + target, std::ios::binary);
    if (!in) return false;
    std::ostringstream body;
    body << in.rdbuf();
    answer.body = body.str();
    return true;
}

void CFakeContentSite::Serve(Connection* connection) {
    int fd = connection->fd;
    timeval timeout{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string head;
    char buf[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        head.append(buf, static_cast<size_t>(n));
    }
    std::string::size_type end = head.find("\r\n\r\n");
    if (end != std::string::npos) {
        head.resize(end);
        Request request;
        request.head = head;
        std::string line = head.substr(0, head.find("\r\n"));
        std::string::size_type sp1 = line.find(' ');
        std::string::size_type sp2 = line.find(' ', sp1 == std::string::npos ? 0 : sp1 + 1);
        if (sp1 != std::string::npos) {
            request.method = line.substr(0, sp1);
            request.target =
                line.substr(sp1 + 1, sp2 == std::string::npos ? std::string::npos : sp2 - sp1 - 1);
        }
        std::string target = request.target;
        bool headOnly = request.method == "HEAD";
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_log.push_back(std::move(request));
        }
        m_changed.notify_all();

        bool speak;
        {
            std::unique_lock<std::mutex> guard(m_lock);
            m_changed.wait(guard, [&] { return !m_silent || m_stopping; });
            speak = !m_stopping;
        }
        Answer answer;
        if (!speak) {
            // Stopped while silent: the connection closes without an answer.
        } else if (!FindAnswer(target, answer)) {
            int delay = answer.delayMs;
            answer = Answer();
            answer.status = 404;
            answer.body = "<html><body>Not Found</body></html>";
            answer.contentType = "text/html";
            answer.delayMs = delay;
        }
        if (speak && PauseFor(answer.delayMs)) {
            std::string reply = "HTTP/1.1 " + std::to_string(answer.status) + " " +
                                ReasonOf(answer.status) +
                                "\r\nContent-Type: " + answer.contentType + "\r\n";
            if (!answer.location.empty()) reply += "Location: " + answer.location + "\r\n";
            const Misbehaviour misbehaviour = answer.misbehaviour;
            // A misbehaving answer brings its own framing, or none at all.
            if (misbehaviour == Misbehaviour::kBrokenChunkSize)
                reply += "Transfer-Encoding: chunked\r\n";
            else if (misbehaviour == Misbehaviour::kNone && answer.statedLength == kBodyLength)
                reply += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
            else if (misbehaviour == Misbehaviour::kNone && answer.statedLength >= 0)
                reply += "Content-Length: " + std::to_string(answer.statedLength) + "\r\n";
            reply += "Connection: close\r\n";
            // The huge head goes on with its own lines and ends the head itself.
            if (misbehaviour != Misbehaviour::kHugeHead) reply += "\r\n";
            bool ok = SendAll(fd, reply.data(), reply.size());
            if (ok && misbehaviour != Misbehaviour::kNone) {
                SendMisbehaving(fd, answer);
            } else if (!headOnly) {
                std::size_t piece = answer.chunkSize > 0 ? answer.chunkSize
                                                         : std::max<size_t>(1, answer.body.size());
                for (std::size_t pos = 0; ok && pos < answer.body.size(); pos += piece) {
                    if (answer.chunkSize > 0 && !PauseFor(answer.chunkDelayMs)) break;
                    ok = SendAll(fd, answer.body.data() + pos,
                                 std::min(piece, answer.body.size() - pos));
                }
                if (ok && answer.holdOpen) PauseFor(24 * 3600 * 1000);
            }
        }
    }
    shutdown(fd, SHUT_WR);
    // Drain what the client still sends so that the close does not turn into a reset that
    // could destroy the tail of the answer on its way.
    timeval drain{0, 200000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &drain, sizeof drain);
    while (recv(fd, buf, sizeof buf, 0) > 0) {
    }
    connection->done = true;
}

}  // namespace vexa::testing
