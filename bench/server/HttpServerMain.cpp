// The HTTP file server as the program starts it, on a given folder.
//   bench_http_server <root> <max seconds>   (prints the port, then serves)
#include <cstdio>
#include <cstdlib>

#include "bench/server/WaitForStop.h"
#include "server/CHTTPServer.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <root> <max seconds>\n", argv[0]);
        return 2;
    }
    vexa::bench::BlockStopSignals();
    vexa::CHTTPServer server;
    if (server.Start(argv[1], "INDEX.HTML", 0, 20000) != 1) return 1;
    std::printf("%d\n", server.GetPort());
    std::fflush(stdout);
    vexa::bench::WaitForStop(std::atoi(argv[2]));
    return server.Stop() == 1 ? 0 : 1;
}
