#include <gtest/gtest.h>

#include <cstdint>

#include "app/OSVersion.h"

namespace {

using vexa::GetOSVersionName;
using vexa::OSVersionInfo;

OSVersionInfo Version(std::uint32_t platform, std::uint32_t major, std::uint32_t minor) {
    OSVersionInfo info;
    info.dwPlatformId = platform;
    info.dwMajorVersion = major;
    info.dwMinorVersion = minor;
    return info;
}

const char* const kUnknown = "\xE6\x9C\xAA\xE7\x9F\xA5";  // 未知 in UTF-8

TEST(OSVersionName, EveryRowOfTheNameTable) {
    struct Case {
        std::uint32_t platform, major, minor;
        const char* name;
    };
    const Case cases[] = {
        {2, 5, 0, "WIN2K"},   {2, 5, 1, "WINXP"},   {2, 5, 2, "WINXP"},  {2, 6, 0, "VISTA"},
        {2, 6, 1, "WIN7"},    {2, 6, 3, "WIN7"},    {2, 10, 0, "WIN7"},  {2, 4, 0, kUnknown},
        {2, 0, 0, kUnknown},  {1, 4, 0, "WIN98"},   {1, 4, 89, "WIN98"}, {1, 4, 90, "WINME"},
        {1, 4, 200, "WINME"}, {1, 3, 95, kUnknown}, {1, 5, 0, kUnknown}, {0, 5, 1, kUnknown},
        {3, 6, 1, kUnknown},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GetOSVersionName(Version(c.platform, c.major, c.minor)), c.name)
            << c.platform << " " << c.major << "." << c.minor;
    }
}

TEST(OSVersionName, QueryDecidesAndAFailedQueryIsUnknown) {
    std::uint32_t sizeSeen = 0;
    EXPECT_EQ(GetOSVersionName([&](OSVersionInfo& info) {
                  sizeSeen = info.dwOSVersionInfoSize;
                  info = Version(1, 4, 10);
                  return true;
              }),
              "WIN98");
    EXPECT_EQ(sizeSeen, 148u);
    EXPECT_EQ(GetOSVersionName([](OSVersionInfo& info) {
                  info = Version(2, 6, 1);
                  return false;
              }),
              kUnknown);
    EXPECT_EQ(GetOSVersionName(vexa::OSVersionQuery()), kUnknown);
    EXPECT_EQ(GetOSVersionName(), kUnknown);  // this platform is in neither family
}

}  // namespace
