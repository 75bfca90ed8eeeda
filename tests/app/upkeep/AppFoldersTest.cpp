#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/AppFolders.h"
#include "tests/app/upkeep/UpkeepTestSupport.h"

namespace vexa {
namespace {

using testing::CScopedEnv;

class AppFoldersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_env.Set("APPDATA", std::nullopt);
        m_env.Set("XDG_DATA_HOME", std::nullopt);
        m_env.Set("HOME", "/home/child");
    }
    CScopedEnv m_env;
};

TEST_F(AppFoldersTest, AppDataWinsWhenItIsUsable) {
    m_env.Set("APPDATA", "/srv/profiles/kid/");
    m_env.Set("XDG_DATA_HOME", "/xdg");
    EXPECT_EQ(DataFolderFromEnvironment(), "/srv/profiles/kid/quinbery/lm");

    std::string longest = "/" + std::string(253, 'p');
    m_env.Set("APPDATA", longest);
    EXPECT_EQ(DataFolderFromEnvironment(), longest + "/quinbery/lm");
}

TEST_F(AppFoldersTest, UnusableAppDataFallsBackOnTheDataHome) {
    m_env.Set("XDG_DATA_HOME", "/xdg/data");
    for (const std::string& bad : {std::string(), std::string("C:\\Users\\kid\\AppData"),
                                   std::string("relative/dir"), "/" + std::string(254, 'p')}) {
        m_env.Set("APPDATA", bad);
        EXPECT_EQ(DataFolderFromEnvironment(), "/xdg/data/quinbery/lm") << bad.size();
    }
}

TEST_F(AppFoldersTest, WithoutEitherTheHomeFolderIsUsed) {
    EXPECT_EQ(DataFolderFromEnvironment(), "/home/child/.local/share/quinbery/lm");
    m_env.Set("XDG_DATA_HOME", "not/absolute");
    m_env.Set("HOME", "/home/child/");
    EXPECT_EQ(DataFolderFromEnvironment(), "/home/child/.local/share/quinbery/lm");
}

TEST_F(AppFoldersTest, FixBaseFoldersSetsTheExecutableFolderAndReturnsTheDataFolder) {
    m_env.Set("APPDATA", "/appdata");
    g_exeFolder.clear();
    EXPECT_EQ(FixBaseFolders(), "/appdata/quinbery/lm");
    std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
    EXPECT_EQ(g_exeFolder, std::filesystem::path(exe).parent_path().string());
    ASSERT_FALSE(g_exeFolder.empty());
    EXPECT_NE(g_exeFolder.back(), '/');
    EXPECT_EQ(g_exeFolder, ExecutableFolder());
}

}  // namespace
}  // namespace vexa
