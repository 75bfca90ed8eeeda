#include "tests/server/TestStateFolder.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "server/CLog.h"

namespace vexa::testing {

namespace {
struct SStateHome {
    std::string path;
    SStateHome() {
        char tmpl[] = "/tmp/vexa-server-test-XXXXXX";
        if (mkdtemp(tmpl) != nullptr) path = tmpl;
        setenv("XDG_STATE_HOME", path.c_str(), 1);
    }
    ~SStateHome() {
        std::error_code ec;
        if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
};
// Set before main, before any thread exists.
SStateHome g_home;
}  // namespace

const std::string& TestStateHome() {
    return g_home.path;
}

std::string ReadRunLog() {
    std::ifstream in(CLog::LogPath(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace vexa::testing
