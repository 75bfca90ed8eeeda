#include "platform/core/Paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace vexa::platform {

std::string GetEnv(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string ExecutablePath() {
    std::vector<char> buf(4096);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return {};
        if (static_cast<size_t>(n) < buf.size())
            return std::string(buf.data(), static_cast<size_t>(n));
        buf.resize(buf.size() * 2);
    }
}

std::string HomeFolder() {
    std::string home = GetEnv("HOME");
    if (!home.empty()) return home;
    if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr)
        return pw->pw_dir;
    return "/";
}

namespace {
void MakeFolders(const std::string& path) {
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos == path.size() || path[pos] == '/') {
            std::string part = path.substr(0, pos);
            if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return;
        }
    }
}
}  // namespace

std::string StateFolder() {
    std::string base = GetEnv("XDG_STATE_HOME");
    if (base.empty() || base[0] != '/') base = HomeFolder() + "/.local/state";
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    std::string folder = base + "/quinbery";
    MakeFolders(folder);
    return folder;
}

}  // namespace vexa::platform
