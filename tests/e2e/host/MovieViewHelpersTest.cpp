// The movie view's text helpers: requests become JavaScript string literals that survive every
// byte, the web view's languages never include the locale names Ruffle rejects, and the player
// is given the installed Chinese font under the names it registers the font's faces by.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <string>

#include "platform/webkit/CWebMovieView.h"

namespace vexa::platform {
namespace {

TEST(JsStringLiteral, EscapesWhatWouldEndOrBreakTheLiteral) {
    EXPECT_EQ(JsStringLiteral("plain"), "\"plain\"");
    EXPECT_EQ(JsStringLiteral("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(JsStringLiteral("line\nnext\r\t"), "\"line\\u000anext\\u000d\\u0009\"");
    EXPECT_EQ(JsStringLiteral(std::string("nul\0x", 5)), "\"nul\\u0000x\"");
    // U+2028 and U+2029 end a line inside a literal in older engines.
    EXPECT_EQ(JsStringLiteral("a\xE2\x80\xA8"
                              "b\xE2\x80\xA9"),
              "\"a\\u2028b\\u2029\"");
    // Other UTF-8 text and the invoke request's quotes pass unchanged.
    EXPECT_EQ(JsStringLiteral("未知 <invoke name='UPOK'>"), "\"未知 <invoke name='UPOK'>\"");
    // A truncated sequence at the end is left as it is.
    EXPECT_EQ(JsStringLiteral("x\xE2\x80"), "\"x\xE2\x80\"");
}

class Languages : public ::testing::Test {
  protected:
    void TearDown() override {
        unsetenv("LANGUAGE");
        unsetenv("LC_ALL");
        unsetenv("LC_MESSAGES");
        unsetenv("LANG");
    }
};

TEST_F(Languages, TheCLocaleGivesAValidTag) {
    unsetenv("LANGUAGE");
    setenv("LC_ALL", "C.UTF-8", 1);
    std::vector<std::string> tags = PreferredLanguages();
    ASSERT_FALSE(tags.empty());
    for (const std::string& tag : tags) {
        EXPECT_NE(tag, "C");
        EXPECT_NE(tag, "POSIX");
        EXPECT_EQ(tag.find_first_of("._@"), std::string::npos) << tag;
    }
}

TEST_F(Languages, ALocaleBecomesALanguageTag) {
    setenv("LANGUAGE", "zh_CN:en_GB", 1);
    setenv("LC_ALL", "zh_CN.UTF-8", 1);
    std::vector<std::string> tags = PreferredLanguages();
    ASSERT_GE(tags.size(), 2u);
    EXPECT_EQ(tags[0], "zh-CN");
    EXPECT_NE(std::find(tags.begin(), tags.end(), "en-GB"), tags.end());
}

TEST(MovieEngineSettings, GoToTheEnvironmentWithoutReplacingTheUsersOwn) {
    auto settings = MovieEngineSettings();
    ASSERT_FALSE(settings.empty());
    for (const auto& [name, value] : settings) unsetenv(name.c_str());
    setenv(settings.front().first.c_str(), "7", 1);
    TuneMovieEngine();
    EXPECT_STREQ(std::getenv(settings.front().first.c_str()), "7");
    for (size_t i = 1; i < settings.size(); ++i)
        EXPECT_STREQ(std::getenv(settings[i].first.c_str()), settings[i].second.c_str());
    unsetenv(settings.front().first.c_str());
    TuneMovieEngine();
    EXPECT_STREQ(std::getenv(settings.front().first.c_str()), settings.front().second.c_str());
    for (const auto& [name, value] : settings) unsetenv(name.c_str());
}

TEST(DeviceFontOptions, NamesEveryFaceByAllItsFullNames) {
    EXPECT_EQ(DeviceFontOptions(std::nullopt, "u"), "{}");
    ProgramFont font;
    font.file = "/f.ttc";
    font.faces = {FontFace{0, "Hei", {"Hei", "黑"}, false},
                  FontFace{1, "Hei Mono", {"Mono"}, true}};
    EXPECT_EQ(DeviceFontOptions(font, "vexa-host://font/program"),
              "{\"fontSources\":[\"vexa-host://font/program\"],\"defaultFonts\":{"
              "\"sans\":[\"Hei\",\"黑\",\"vexa-host://font/program\"],"
              "\"serif\":[\"Hei\",\"黑\",\"vexa-host://font/program\"],"
              "\"typewriter\":[\"Mono\",\"vexa-host://font/program\",\"Hei\",\"黑\","
              "\"vexa-host://font/program\"]}}");
}

// The font the program depends on, as fontconfig describes it: the player registers the
// regular face under its first Unicode full name, the Traditional Chinese one.
TEST(ProgramFontLookup, FindsWenQuanYiMicroHeiWithItsFacesAndNames) {
    const std::optional<ProgramFont>& font = FindProgramFont();
    ASSERT_TRUE(font.has_value()) << "fonts-wqy-microhei is not installed";
    EXPECT_EQ(font->family, "WenQuanYi Micro Hei");
    EXPECT_NE(font->file.find("wqy-microhei.ttc"), std::string::npos) << font->file;
    ASSERT_EQ(font->faces.size(), 2u);
    EXPECT_FALSE(font->faces[0].monospace);
    EXPECT_TRUE(font->faces[1].monospace);
    const std::vector<std::string>& names = font->faces[0].fullNames;
    for (const char* name : {"WenQuanYi Micro Hei", "文泉驛微米黑", "文泉驿微米黑"})
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
}

}  // namespace
}  // namespace vexa::platform
