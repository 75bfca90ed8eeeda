// A bare relay for the cold-miss benchmark: what passing a file from the content site on to
// the client costs with libcurl and nothing else. One thread, one kept libcurl handle, the body
// passed on in 64 KiB batches as it comes; no folder, no file, no log, no checks. It answers one
// request per connection, in turn.
//   bench_relay <site base URL> <max seconds>   (prints the port, then relays)
#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "bench/server/WaitForStop.h"

namespace {

constexpr std::size_t kBatchBytes = 64 * 1024;

struct SPassOn {
    CURL* curl;
    int client;
    bool started = false;
    std::string waiting;
};

bool SendAll(int s, const std::string& data) {
    for (std::size_t done = 0; done < data.size();) {
        ssize_t n = send(s, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* p = static_cast<SPassOn*>(user);
    if (!p->started) {
        curl_off_t length = 0;
        curl_easy_getinfo(p->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        p->waiting = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(length) +
                     "\r\nConnection: close\r\n\r\n";
        p->started = true;
    }
    p->waiting.append(data, size * count);
    if (p->waiting.size() >= kBatchBytes) {
        if (!SendAll(p->client, p->waiting)) return 0;
        p->waiting.clear();
    }
    return size * count;
}

void Relay(int listener, const std::string& base) {
    CURL* curl = curl_easy_init();
    for (;;) {
        int client = accept(listener, nullptr, nullptr);
        if (client < 0) continue;
        int one = 1;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            ssize_t n = recv(client, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            request.append(buffer, static_cast<std::size_t>(n));
        }
        std::size_t start = request.find(' ');
        std::size_t end = request.find(' ', start + 1);
        if (start != std::string::npos && end != std::string::npos) {
            std::string url = base + request.substr(start + 2, end - start - 2);
            SPassOn p{curl, client};
            curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
            curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
            curl_easy_setopt(curl, CURLOPT_WRITEDATA, &p);
            curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, 256L * 1024);
            if (curl_easy_perform(curl) == CURLE_OK) SendAll(client, p.waiting);
        }
        close(client);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <site base URL> <max seconds>\n", argv[0]);
        return 2;
    }
    vexa::bench::BlockStopSignals();
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener, 64) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 1;
    std::printf("%d\n", ntohs(address.sin_port));
    std::fflush(stdout);
    std::string base = argv[1];
    if (base.empty() || base.back() != '/') base += '/';
    std::thread(Relay, listener, base).detach();
    vexa::bench::WaitForStop(std::atoi(argv[2]));
    // The relay thread waits in accept for ever: the process ends under it, tearing nothing down.
    std::_Exit(0);
}
