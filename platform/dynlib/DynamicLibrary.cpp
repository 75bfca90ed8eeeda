#include "platform/dynlib/DynamicLibrary.h"

#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <mutex>

#include "platform/core/Paths.h"
#include "platform/dynlib/FileDigest.h"

namespace vexa::platform {
namespace {

std::mutex g_lock;
std::string g_folder;  // "" = the executable's folder

std::string Join(const std::string& folder, const std::string& file) {
    return folder.back() == '/' ? folder + file : folder + "/" + file;
}

void* Open(const std::string& path) {
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

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

std::vector<std::string> InstalledLibraryFolders(const std::string& programFolder) {
    if (programFolder.empty()) return {};
    // Relative to the program, so a package installed under any prefix finds its own library.
    return {programFolder, Join(programFolder, "../lib/vexa")};
}

std::vector<std::string> InstalledLibraryFolders() {
    return InstalledLibraryFolders(DynamicLibraryFolder());
}

std::string UserLibraryFolder() {
    std::string base = GetEnv("XDG_DATA_HOME");
    if (base.empty() || base[0] != '/') {
        std::string home = HomeFolder();
        if (home.empty()) return {};
        base = Join(home, ".local/share");
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return Join(base, "quinbery");
}

LibraryHandle LoadDynamicLibrary(const std::string& baseName, const std::string& userCopySha256) {
    if (baseName.empty() || baseName.find('/') != std::string::npos) return nullptr;
    std::string file = DynamicLibraryFileName(baseName);
    for (const std::string& folder : InstalledLibraryFolders())
        if (void* handle = Open(Join(folder, file))) return handle;
    if (!userCopySha256.empty()) {
        // Whoever could put a file there, or on the network path it came over, must not choose
        // the code this process runs: only the exact library the program expects is loaded.
        if (std::string folder = UserLibraryFolder(); !folder.empty()) {
            std::string path = Join(folder, file);
            if (FileSha256(path) == userCopySha256)
                if (void* handle = Open(path)) return handle;
        }
    }
    // A bare name makes the loader use its normal search (LD_LIBRARY_PATH, cache, system).
    return Open(file);
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
