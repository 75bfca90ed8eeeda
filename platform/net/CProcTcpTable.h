// The TCP table read from /proc/net/tcp and /proc/net/tcp6.
#pragma once

#include <string>

#include "platform/net/ITcpTable.h"

namespace vexa::platform {

// Readable when at least one of its files is.
class CProcTcpTable : public ITcpTable {
  public:
    CProcTcpTable();
    explicit CProcTcpTable(std::vector<std::string> files);
    bool ReadLocalPorts(std::vector<std::uint16_t>* ports) override;

    // Adds the local ports of the rows of one /proc/net/tcp-style text; false when it has no
    // header line.
    static bool Parse(const std::string& text, std::vector<std::uint16_t>* ports);

  private:
    std::vector<std::string> m_files;
};

}  // namespace vexa::platform
