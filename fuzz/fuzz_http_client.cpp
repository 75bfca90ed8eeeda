// Answers the exported HTTP client's request with arbitrary bytes from a loopback peer, then asks
// the response header everything a caller can: the header is what came before the first empty
// line (at most the header buffer), the lines give back exactly those bytes, no field query
// writes past the buffer it was given, and the body that follows is left whole in the socket.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "net/CHttpSocket.h"
#include "platform/core/MessageBox.h"

namespace {

using vexa::CHttpSocket;
using vexa::fuzz::Require;

class CSilentBoxes : public vexa::platform::IMessageBox {
  public:
    void Show(const std::string&, const std::string&) override {}
};

struct SListener {
    int fd = -1;
    int port = 0;
};

const SListener& Listener() {
    static const SListener listener = [] {
        static CSilentBoxes boxes;
        vexa::platform::SetMessageBoxService(&boxes);
        SListener l;
        l.fd = socket(AF_INET, SOCK_STREAM, 0);
        Require(l.fd >= 0, "listener socket");
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        Require(bind(l.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0, "bind");
        Require(listen(l.fd, 4) == 0, "listen");
        socklen_t length = sizeof address;
        getsockname(l.fd, reinterpret_cast<sockaddr*>(&address), &length);
        l.port = ntohs(address.sin_port);
        return l;
    }();
    return listener;
}

// The first byte, when it is below 32, is the length of a field name that follows; the rest is
// the peer's answer.
void SplitInput(const std::uint8_t* data, std::size_t size, std::string& name,
                std::string& answer) {
    const char* bytes = reinterpret_cast<const char*>(data);
    if (size > 0 && data[0] < 32 && static_cast<std::size_t>(data[0]) < size) {
        name.assign(bytes + 1, data[0]);
        answer.assign(bytes + 1 + data[0], size - 1 - data[0]);
    } else {
        answer.assign(bytes, size);
    }
}

void CheckFields(CHttpSocket& client, const std::string& header, const std::string& name) {
    const char* names[] = {"Content-Length", "Content-Type", "Location", "HTTP/", ":",
                           "\r\n",           name.c_str()};
    const std::string text = header.substr(0, std::strlen(header.c_str()));
    for (const char* field : names) {
        if (*field == '\0') continue;
        const bool present = text.find(field) != std::string::npos;
        for (int size : {0, 1, 2, 16, 2048}) {
            // Exactly size bytes, so a write past them is caught.
            std::unique_ptr<char[]> value(size > 0 ? new char[size] : nullptr);
            int length = client.GetField(field, value.get(), size);
            Require(present == (length >= 0), "field found as it is in the header");
            if (length < 0 || size == 0) continue;
            Require(length <= static_cast<int>(text.size()), "field within the header");
            std::size_t copied = std::strlen(value.get());
            Require(copied == static_cast<std::size_t>(std::min(length, size - 1)), "value cut");
            Require(text.find(std::string(value.get(), copied)) != std::string::npos,
                    "value from the header");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const SListener& listener = Listener();
    std::string name;
    std::string answer;
    SplitInput(data, size, name, answer);
    // The whole answer must fit the socket buffers, as nothing reads it while it is written.
    if (answer.size() > 256 * 1024) return 0;

    CHttpSocket client;
    Require(client.GetServerState() == -1, "no state before a response");
    Require(client.Socket() == 1, "client socket");
    Require(client.Connect("127.0.0.1", listener.port) == 1, "connect");
    int peer = accept(listener.fd, nullptr, nullptr);
    Require(peer >= 0, "accept");
    std::size_t written = 0;
    while (written < answer.size()) {
        ssize_t n = send(peer, answer.data() + written, answer.size() - written, MSG_NOSIGNAL);
        Require(n > 0, "peer send");
        written += static_cast<std::size_t>(n);
    }
    shutdown(peer, SHUT_WR);
    client.SetTimeout(2000, 0);

    long requestLength = 0;
    client.FormatRequestHeader("127.0.0.1", "/a", requestLength, nullptr, nullptr, 0, 0, 0);
    Require(client.SendRequest(nullptr, 0) == 1, "send request");

    int headerLength = -1;
    const char* head = client.GetResponseHeader(headerLength);
    std::size_t blank = answer.find("\r\n\r\n");
    std::size_t expected = blank == std::string::npos ? answer.size() : blank + 4;
    if (expected > static_cast<std::size_t>(CHttpSocket::kHeaderSize))
        expected = CHttpSocket::kHeaderSize;
    Require(headerLength == static_cast<int>(expected), "header length");
    const std::string header(head, static_cast<std::size_t>(headerLength));
    Require(header == answer.substr(0, expected), "header bytes");

    // Twice: after the last line the walk starts again at the first.
    for (int round = 0; round < 2; ++round) {
        std::string lines;
        char line[64];
        for (int n; (n = client.GetResponseLine(line, sizeof line)) != -1;) {
            Require(n > 0 && n <= static_cast<int>(sizeof line), "line size");
            lines.append(line, static_cast<std::size_t>(n));
            Require(lines.size() <= header.size(), "lines within the header");
        }
        Require(lines == header, "lines give the header");
    }

    CheckFields(client, header, name);
    int state = client.GetServerState();
    Require(state >= 0 && state <= 999, "status code");

    // A copy reads from its own handle on the same connection.
    CHttpSocket copy(client);
    std::string rest;
    char buffer[4096];
    for (long n; (n = copy.Receive(buffer, sizeof buffer)) > 0;)
        rest.append(buffer, static_cast<std::size_t>(n));
    Require(header + rest == answer, "body left whole");
    close(peer);
    return 0;
}
