#include "server/CLog.h"

#include <cstdio>
#include <ctime>
#include <mutex>

#include "platform/core/Paths.h"

namespace vexa {

namespace {
// Constant-initialised, so a detached thread may still log while statics are torn down.
std::mutex g_logLock;
}  // namespace

std::string CLog::LogPath() {
    return platform::StateFolder() + "/RunLog.log";
}

int CLog::WriteLog(const char* message, const char* operation, int code) {
    return WriteLogLine(message, operation, code);
}

int CLog::WriteLogLine(const char* message, const char* operation, int code) {
    std::lock_guard<std::mutex> guard(g_logLock);
    std::time_t now = std::time(nullptr);
    if (message == nullptr || *message == '\0') return 0;

    std::string path = LogPath();
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr) return 0;

    char stamp[128] = "";
    std::tm local{};
#ifdef _WIN32
    bool haveTime = localtime_s(&local, &now) == 0;
#else
    bool haveTime = localtime_r(&now, &local) != nullptr;
#endif
    if (haveTime) std::strftime(stamp, sizeof stamp, "%Y/%m/%d  %H:%M:%S", &local);

    std::string line;
    line.reserve(128);
    line.append(stamp).append(" - ").append(message).append(".\t");
    if (operation != nullptr) line.append("[").append(operation).append("]\t");
    line.append("[").append(std::to_string(code)).append("]\r\n");

    std::size_t written = std::fwrite(line.data(), 1, line.size(), file);
    bool closed = std::fclose(file) == 0;
    return written == line.size() && closed ? 1 : 0;
}

void CLog::DeleteLog() {
    std::remove(LogPath().c_str());
}

}  // namespace vexa
