// The system's TCP connection table, as far as the port probe needs it: the local port of every
// row, whatever its state and local address.
#pragma once

#include <cstdint>
#include <vector>

namespace vexa::platform {

class ITcpTable {
  public:
    virtual ~ITcpTable() = default;
    // Fills ports with the local port of every row; false when the table cannot be read.
    virtual bool ReadLocalPorts(std::vector<std::uint16_t>* ports) = 0;
};

// The table the process uses; a test may set its own (nullptr restores the system's).
ITcpTable& TcpTable();
void SetTcpTable(ITcpTable* table);

}  // namespace vexa::platform
