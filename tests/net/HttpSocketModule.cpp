// A module that uses the raw-socket client it finds in the executable that loads it.
#include <cstring>
#include <memory>

#include "net/CHttpSocket.h"

extern "C" __attribute__((visibility("default"))) int vexa_module_get(int port, char* body,
                                                                      int size) {
    auto client = std::make_unique<vexa::CHttpSocket>();
    if (client->Socket() != 1) return -2;
    if (client->Connect("127.0.0.1", port) != 1) return -3;
    long length = 0;
    client->FormatRequestHeader("127.0.0.1", "/module", length, nullptr, nullptr, 0, 0, 0);
    if (client->SendRequest(nullptr, 0) != 1) return -4;
    // A copy made here, destroyed through the base pointer, must leave the original usable.
    std::unique_ptr<vexa::CHttpSocket> copy(new vexa::CHttpSocket(*client));
    copy.reset();
    long n = client->Receive(body, size - 1);
    body[n > 0 ? n : 0] = '\0';
    return client->GetServerState();
}
