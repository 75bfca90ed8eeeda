// The system's TCP connection table, as far as the port probe needs it: the local port of every
// row, whatever its state and local address.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexa::platform {

class ITcpTable {
  public:
    virtual ~ITcpTable() = default;
    // Fills ports with the local port of every row; false when the table cannot be read.
    virtual bool ReadLocalPorts(std::vector<std::uint16_t>* ports) = 0;
};

// Reads /proc/net/tcp and /proc/net/tcp6 (or the files given); readable when at least one is.
class CProcTcpTable : public ITcpTable {
  public:
    CProcTcpTable();
    explicit CProcTcpTable(std::vector<std::string> files);
    bool ReadLocalPorts(std::vector<std::uint16_t>* ports) override;

  private:
    std::vector<std::string> m_files;
};

// Adds the local ports of the rows of one /proc/net/tcp-style text; false when it has no
// header line.
bool ParseProcNetTcp(const std::string& text, std::vector<std::uint16_t>* ports);

// The table the process uses; a test may set its own (nullptr restores the system's).
ITcpTable& TcpTable();
void SetTcpTable(ITcpTable* table);

}  // namespace vexa::platform
