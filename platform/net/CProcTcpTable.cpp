#include "platform/net/CProcTcpTable.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vexa::platform {

CProcTcpTable::CProcTcpTable() : m_files{"/proc/net/tcp", "/proc/net/tcp6"} {}

CProcTcpTable::CProcTcpTable(std::vector<std::string> files) : m_files(std::move(files)) {}

bool CProcTcpTable::ReadLocalPorts(std::vector<std::uint16_t>* ports) {
    bool any = false;
    for (const std::string& file : m_files) {
        std::ifstream in(file, std::ios::binary);
        if (!in) continue;
        std::ostringstream text;
        text << in.rdbuf();
        if (Parse(text.str(), ports)) any = true;
    }
    return any;
}

bool CProcTcpTable::Parse(const std::string& text, std::vector<std::uint16_t>* ports) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line.find("local_address") == std::string::npos) return false;
    // Each row: "  sl  local_address rem_address st ...", the local address as HEXADDR:HEXPORT.
    while (std::getline(in, line)) {
        std::istringstream row(line);
        std::string slot, local;
        if (!(row >> slot >> local)) continue;
        std::size_t colon = local.rfind(':');
        if (colon == std::string::npos || colon + 1 >= local.size()) continue;
        char* end = nullptr;
        unsigned long port = std::strtoul(local.c_str() + colon + 1, &end, 16);
        if (end == nullptr || *end != '\0' || port > 0xFFFF) continue;
        ports->push_back(static_cast<std::uint16_t>(port));
    }
    return true;
}

}  // namespace vexa::platform
