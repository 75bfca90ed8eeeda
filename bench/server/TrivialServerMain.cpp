// A trivial server on the threaded TCP server: every request gets the same reply of a given
// total size. Keeps the connection unless the request asks to close it.
//   bench_trivial_server <reply bytes> <max seconds>   (prints the port, then serves)
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/server/WaitForStop.h"
#include "server/CGenericServer.h"

namespace {

class CTrivialServer : public vexa::CGenericServer {
  public:
    explicit CTrivialServer(std::size_t replyBytes)
        : m_keepReply(MakeReply(replyBytes, "keep-alive")),
          m_closeReply(MakeReply(replyBytes, "close")) {}
    ~CTrivialServer() override { Shutdown(); }

  protected:
    int OnClientConnect(const char*, int) override { return 0; }
    int OnBytesSent(unsigned) override { return 0; }
    int IsRequestComplete(const std::string& r) override {
        return r.size() >= 4 && r.compare(r.size() - 4, 4, "\r\n\r\n") == 0;
    }
    int ParseRequest(const std::string& r, std::string* reply, int* keepAlive) override {
        *keepAlive = r.find("\nConnection: close") == std::string::npos ? 1 : 0;
        *reply = *keepAlive ? m_keepReply : m_closeReply;
        return 1;
    }

  private:
    // The body is sized so that the whole reply has the asked-for length.
    static std::string MakeReply(std::size_t replyBytes, const std::string& connection) {
        const std::string head = "HTTP/1.1 200 OK\r\nServer: trivial\r\nConnection: " + connection +
                                 "\r\nContent-Type: application/octet-stream\r\nContent-Length: ";
        std::size_t body = 0;
        for (;;) {
            std::string h = head + std::to_string(body) + "\r\n\r\n";
            if (h.size() + body >= replyBytes) return h + std::string(body, 'x');
            body = replyBytes - h.size();
        }
    }

    std::string m_keepReply;
    std::string m_closeReply;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <reply bytes> <max seconds>\n", argv[0]);
        return 2;
    }
    vexa::bench::BlockStopSignals();
    CTrivialServer server(std::strtoul(argv[1], nullptr, 10));
    if (server.Run(0, 20000) != 1) return 1;
    std::printf("%d\n", server.ListenPort());
    std::fflush(stdout);
    vexa::bench::WaitForStop(std::atoi(argv[2]));
    return server.Shutdown() == 1 ? 0 : 1;
}
