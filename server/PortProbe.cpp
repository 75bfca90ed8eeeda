#include "server/PortProbe.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/net/ITcpTable.h"

namespace vexa {

namespace {
constexpr int kLastPort = 65535;
}  // namespace

int IsPortInUse(int port) {
    std::vector<std::uint16_t> ports;
    if (!platform::TcpTable().ReadLocalPorts(&ports)) return 0;
    return std::find(ports.begin(), ports.end(), port) != ports.end() ? 1 : 0;
}

int FindFreePort(int port) {
    if (port < 0 || port > kLastPort) return -1;
    if (port == 0) return 0;
    // One reading of the table for the whole search: the answer is the same as asking port by
    // port, without reading the table thousands of times when a range is taken.
    std::vector<std::uint16_t> ports;
    if (!platform::TcpTable().ReadLocalPorts(&ports)) return port;
    std::vector<bool> taken(kLastPort + 1, false);
    for (std::uint16_t p : ports) taken[p] = true;
    for (int p = port; p <= kLastPort; ++p)
        if (!taken[p]) return p;
    return -1;
}

}  // namespace vexa
