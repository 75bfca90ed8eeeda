#include "app/OSVersion.h"

namespace vexa {

bool QueryOSVersion(OSVersionInfo& info) {
    // This host does not run on a system of either family the movie knows by name, so the record
    // carries no platform id and the movie is told the system is unknown.
    info = OSVersionInfo{};
    return true;
}

std::string GetOSVersionName(const OSVersionInfo& info) {
    const char* const unknown = "未知";
    if (info.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        if (info.dwMajorVersion == 5) {
            return info.dwMinorVersion == 0 ? "WIN2K" : "WINXP";
        }
        if (info.dwMajorVersion == 6) {
            return info.dwMinorVersion == 0 ? "VISTA" : "WIN7";
        }
        return info.dwMajorVersion > 6 ? "WIN7" : unknown;
    }
    if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS && info.dwMajorVersion == 4) {
        return info.dwMinorVersion < 90 ? "WIN98" : "WINME";
    }
    return unknown;
}

std::string GetOSVersionName(const OSVersionQuery& query) {
    OSVersionInfo info;
    if (!query || !query(info)) {
        info = OSVersionInfo{};  // an unanswered query names no family
    }
    return GetOSVersionName(info);
}

}  // namespace vexa
