#include "platform/net/ITcpTable.h"

#include <atomic>

#include "platform/net/CProcTcpTable.h"

namespace vexa::platform {

namespace {
std::atomic<ITcpTable*> g_table{nullptr};
}  // namespace

ITcpTable& TcpTable() {
    static CProcTcpTable system;
    ITcpTable* t = g_table.load();
    return t != nullptr ? *t : system;
}

void SetTcpTable(ITcpTable* table) {
    g_table.store(table);
}

}  // namespace vexa::platform
