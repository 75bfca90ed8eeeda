#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <typeinfo>

#include "net/CHttpSocket.h"
#include "tests/net/CScriptedPeer.h"

// As in the program: nothing here calls the class, and this reference alone must keep every one
// of its operations linked in and exported.
extern const std::type_info& g_exportedHttpSocket;
const std::type_info& g_exportedHttpSocket = typeid(vexa::CHttpSocket);

namespace {

TEST(CHttpSocketExport, ModuleUsesTheClassFromTheExecutable) {
    vexa::testing::CScriptedPeer peer({{"HTTP/1.1 201 Created\r\n\r\nfrom-exe"}});
    // RTLD_NOW: every symbol the module needs must resolve against this executable at once.
    void* module = ::dlopen(VEXA_HTTPSOCKET_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, module) << ::dlerror();
    using Get = int (*)(int, char*, int);
    auto get = reinterpret_cast<Get>(::dlsym(module, "vexa_module_get"));
    ASSERT_NE(nullptr, get);
    char body[64];
    EXPECT_EQ(201, get(peer.Port(), body, sizeof body));
    EXPECT_EQ("from-exe", std::string(body));
    ASSERT_EQ(1u, peer.Requests().size());
    EXPECT_EQ(0u, peer.Requests()[0].find("GET /module HTTP/1.1\r\nHost:127.0.0.1\r\n"));
    ::dlclose(module);
}

}  // namespace
