#include "platform/dynlib/DynamicLibrary.h"

#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <mutex>

#include "platform/core/Paths.h"

namespace vexa::platform {
namespace {

std::mutex g_lock;
std::string g_folder;  // "" = the executable's folder

}  // namespace

std::string DynamicLibraryFileName(const std::string& baseName) {
    return "lib" + baseName + ".so";
}

void SetDynamicLibraryFolder(const std::string& folder) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_folder = folder;
}

std::string DynamicLibraryFolder() {
    {
        std::lock_guard<std::mutex> guard(g_lock);
        if (!g_folder.empty()) return g_folder;
    }
    std::string exe = ExecutablePath();
    size_t slash = exe.rfind('/');
    return slash == std::string::npos ? std::string() : exe.substr(0, slash == 0 ? 1 : slash);
}

LibraryHandle LoadDynamicLibrary(const std::string& baseName) {
    if (baseName.empty() || baseName.find('/') != std::string::npos) return nullptr;
    std::string file = DynamicLibraryFileName(baseName);
    std::string folder = DynamicLibraryFolder();
    if (!folder.empty()) {
        std::string path = folder.back() == '/' ? folder + file : folder + "/" + file;
        if (void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) return handle;
    }
    // A bare name makes the loader use its normal search (LD_LIBRARY_PATH, cache, system).
    return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* GetLibrarySymbol(LibraryHandle library, const char* name) {
    if (library == nullptr || name == nullptr) return nullptr;
    void* symbol = dlsym(library, name);
    if (symbol == nullptr) return nullptr;
    // dlsym also searches the library's dependencies; only the library's own symbols count, as a
    // library lacking an entry point must not borrow one from what it links.
    Dl_info info{};
    link_map* map = nullptr;
    if (dladdr(symbol, &info) == 0 || dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 ||
        map == nullptr || info.dli_fname == nullptr || map->l_name == nullptr ||
        std::strcmp(info.dli_fname, map->l_name) != 0)
        return nullptr;
    return symbol;
}

void FreeDynamicLibrary(LibraryHandle library) {
    if (library != nullptr) dlclose(library);
}

}  // namespace vexa::platform
