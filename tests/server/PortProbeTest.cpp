#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/net/CProcTcpTable.h"
#include "server/CHTTPServer.h"
#include "server/PortProbe.h"
#include "tests/server/LoopbackClient.h"

namespace vexa {
namespace {

class CFakeTcpTable : public platform::ITcpTable {
  public:
    explicit CFakeTcpTable(std::vector<std::uint16_t> ports, bool readable = true)
        : m_ports(std::move(ports)), m_readable(readable) {
        platform::SetTcpTable(this);
    }
    ~CFakeTcpTable() override { platform::SetTcpTable(nullptr); }
    bool ReadLocalPorts(std::vector<std::uint16_t>* ports) override {
        if (!m_readable) return false;
        ports->insert(ports->end(), m_ports.begin(), m_ports.end());
        return true;
    }

  private:
    std::vector<std::uint16_t> m_ports;
    bool m_readable;
};

TEST(TcpTableTest, ParsesEveryRowOfBothFormats) {
    const std::string tcp =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid\n"
        "   0: 0100007F:2692 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0\n"
        "   1: 0100007F:2693 0100007F:D431 06 00000000:00000000 03:00001707 00000000     0\n";
    const std::string tcp6 =
        "  sl  local_address                         remote_address                        st\n"
        "   0: 00000000000000000000000000000000:0016 00000000000000000000000000000000:0000 0A\n";
    std::vector<std::uint16_t> ports;
    EXPECT_TRUE(platform::CProcTcpTable::Parse(tcp, &ports));
    EXPECT_TRUE(platform::CProcTcpTable::Parse(tcp6, &ports));
    EXPECT_EQ((std::vector<std::uint16_t>{9874, 9875, 22}), ports);
    EXPECT_FALSE(platform::CProcTcpTable::Parse("", &ports));

    char tmpl[] = "/tmp/vexa-tcptable-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    std::string file = std::string(tmpl) + "/tcp";
    std::ofstream(file) << tcp;
    std::vector<std::uint16_t> read;
    EXPECT_TRUE(
        platform::CProcTcpTable({file, std::string(tmpl) + "/missing"}).ReadLocalPorts(&read));
    EXPECT_EQ(2u, read.size());
    EXPECT_FALSE(platform::CProcTcpTable({std::string(tmpl) + "/missing"}).ReadLocalPorts(&read));
    std::filesystem::remove_all(tmpl);
}

TEST(PortProbeTest, SearchSkipsEveryTakenPortAndStopsAtTheLastOne) {
    {
        CFakeTcpTable table({9898, 9899, 9901});
        EXPECT_EQ(1, IsPortInUse(9899));
        EXPECT_EQ(0, IsPortInUse(9900));
        EXPECT_EQ(9900, FindFreePort(9898));
        EXPECT_EQ(9902, FindFreePort(9901));
    }
    {
        CFakeTcpTable table({65534, 65535});
        EXPECT_EQ(-1, FindFreePort(65534));
        EXPECT_EQ(-1, FindFreePort(70000));
    }
    {
        CFakeTcpTable unreadable({9898}, false);
        EXPECT_EQ(0, IsPortInUse(9898)) << "an unreadable table means free";
        EXPECT_EQ(9898, FindFreePort(9898));
    }
}

TEST(PortProbeTest, RealTableCountsListenersAndClosingConnections) {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa));
    ASSERT_EQ(0, listen(listener, 4));
    socklen_t len = sizeof sa;
    getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &len);
    int listenPort = ntohs(sa.sin_port);
    EXPECT_EQ(1, IsPortInUse(listenPort));

    // The side that closes first keeps its port in the closing wait.
    testing::CLoopbackClient client;
    ASSERT_TRUE(client.Connect(listenPort));
    sockaddr_in local{};
    len = sizeof local;
    getsockname(client.Descriptor(), reinterpret_cast<sockaddr*>(&local), &len);
    int clientPort = ntohs(local.sin_port);
    int accepted = accept(listener, nullptr, nullptr);
    client.Close();
    close(accepted);
    close(listener);
    usleep(50 * 1000);
    std::ifstream in("/proc/net/tcp");
    std::ostringstream text;
    text << in.rdbuf();
    char needle[64];
    std::snprintf(needle, sizeof needle, ":%04X 0100007F:%04X 06", clientPort, listenPort);
    ASSERT_NE(std::string::npos, text.str().find(needle)) << "expected a row in TIME_WAIT";
    EXPECT_EQ(1, IsPortInUse(clientPort));
}

TEST(PortProbeTest, StartListensOnTheFirstFreePort) {
    setenv("VEXA_CONTENT_SITE", "http://127.0.0.1:9/", 1);
    int base = testing::FreeLoopbackPort();
    CFakeTcpTable table({static_cast<std::uint16_t>(base), static_cast<std::uint16_t>(base + 1)});
    char tmpl[] = "/tmp/vexa-probe-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    {
        CHTTPServer server;
        ASSERT_EQ(1, server.Start(tmpl, "INDEX.HTML", base, 1000));
        EXPECT_EQ(base + 2, server.GetPort());
        testing::CLoopbackClient c;
        EXPECT_TRUE(c.Connect(base + 2));
        EXPECT_EQ(1, server.Stop());
    }
    {
        CFakeTcpTable full({65535});
        CHTTPServer server;
        EXPECT_EQ(0, server.Start(tmpl, "INDEX.HTML", 65535, 1000));
        EXPECT_FALSE(server.IsRunning());
    }
    std::filesystem::remove_all(tmpl);
}

}  // namespace
}  // namespace vexa
