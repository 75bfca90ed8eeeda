#include "app/AppFolders.h"

#include "platform/core/Paths.h"

namespace vexa {

std::string g_exeFolder;

namespace {

// The value that held the folder on the desktop platform came through a 255-byte buffer, so a
// longer one never counted as set.
constexpr std::string::size_type kMaxAppDataLength = 254;

bool IsAbsolute(const std::string& path) {
    return !path.empty() && path[0] == '/';
}

std::string WithoutTrailingSlashes(std::string path) {
    while (!path.empty() && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

std::string ExecutableFolder() {
    std::string exe = platform::ExecutablePath();
    std::string::size_type slash = exe.rfind('/');
    return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

std::string DataFolderFromEnvironment() {
    std::string base = platform::GetEnv("APPDATA");
    if (!IsAbsolute(base) || base.size() > kMaxAppDataLength) {
        base = platform::GetEnv("XDG_DATA_HOME");
        if (!IsAbsolute(base))
            base = WithoutTrailingSlashes(platform::HomeFolder()) + "/.local/share";
    }
    return WithoutTrailingSlashes(base) + "/quinbery/lm";
}

std::string FixBaseFolders() {
    g_exeFolder = ExecutableFolder();
    return DataFolderFromEnvironment();
}

}  // namespace vexa
