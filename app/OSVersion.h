// The operating-system name the movie asks for with "getOSVersion", chosen from a version record.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vexa {

constexpr std::uint32_t VER_PLATFORM_WIN32_WINDOWS = 1;  // the 9x family
constexpr std::uint32_t VER_PLATFORM_WIN32_NT = 2;

// The narrow version-information record as the platform fills it.
struct OSVersionInfo {
    std::uint32_t dwOSVersionInfoSize = 148;
    std::uint32_t dwMajorVersion = 0;
    std::uint32_t dwMinorVersion = 0;
    std::uint32_t dwBuildNumber = 0;
    std::uint32_t dwPlatformId = 0;
    char szCSDVersion[128] = {};
};

// Fills the record; false when the platform gave no answer (the record then names no family).
using OSVersionQuery = std::function<bool(OSVersionInfo&)>;

// The version source of this build. This platform belongs to neither family.
bool QueryOSVersion(OSVersionInfo& info);

// "WIN2K", "WINXP", "VISTA", "WIN7", "WIN98", "WINME" or "未知".
std::string GetOSVersionName(const OSVersionInfo& info);
std::string GetOSVersionName(const OSVersionQuery& query = QueryOSVersion);

}  // namespace vexa
