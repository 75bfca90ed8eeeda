#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "BuildConfig.h"
#include "server/ContentSite.h"
#include "server/DownloadHelpers.h"
#include "tests/server/download/TempFolder.h"

namespace vexa {
namespace {

namespace fs = std::filesystem;
using testing::CTempFolder;
using testing::Listing;
using testing::WriteFile;

TEST(FileExistsTest, TrueForFilesAndFoldersAlike) {
    CTempFolder folder;
    WriteFile(folder / "f.txt", "x");
    fs::create_directory(folder / "sub");
    fs::create_symlink(folder / "gone", folder / "dangling");

    EXPECT_TRUE(FileExists((folder / "f.txt").c_str()));
    EXPECT_TRUE(FileExists((folder / "sub").c_str()));
    EXPECT_TRUE(FileExists((folder / "sub/").c_str()));
    EXPECT_FALSE(FileExists((folder / "missing").c_str()));
    EXPECT_FALSE(FileExists((folder / "f.txt/inside").c_str()));
    EXPECT_FALSE(FileExists((folder / "dangling").c_str()));
    EXPECT_FALSE(FileExists(""));
    EXPECT_FALSE(FileExists(nullptr));
}

TEST(CreateDirectoryTreeTest, CreatesEveryMissingLevelWithOrWithoutTrailingSlash) {
    CTempFolder folder;
    EXPECT_EQ(CreateDirectoryTree((folder / "a/b/c").c_str()), 1);
    EXPECT_TRUE(fs::is_directory(folder / "a/b/c"));
    EXPECT_EQ(CreateDirectoryTree((folder / "x/y/z/").c_str()), 1);
    EXPECT_TRUE(fs::is_directory(folder / "x/y/z"));
    EXPECT_EQ(CreateDirectoryTree((folder / "a//b/d").c_str()), 1);
    EXPECT_TRUE(fs::is_directory(folder / "a/b/d"));
    EXPECT_EQ(Listing(folder.Path()), "a,x");
}

TEST(CreateDirectoryTreeTest, ExistingTreeIsLeftAlone) {
    CTempFolder folder;
    fs::create_directories(folder / "a/b");
    WriteFile(folder / "a/b/keep.txt", "k");
    EXPECT_EQ(CreateDirectoryTree((folder / "a/b").c_str()), 1);
    EXPECT_EQ(Listing(folder / "a/b"), "keep.txt");
    EXPECT_EQ(CreateDirectoryTree("/"), 1);
    EXPECT_EQ(CreateDirectoryTree(""), 1);
    EXPECT_EQ(CreateDirectoryTree(nullptr), 1);
}

TEST(CreateDirectoryTreeTest, AFileInTheWayStopsNothingElse) {
    CTempFolder folder;
    WriteFile(folder / "blocker", "file");
    EXPECT_EQ(CreateDirectoryTree((folder / "blocker/sub").c_str()), 1);
    EXPECT_TRUE(fs::is_regular_file(folder / "blocker"));
    EXPECT_EQ(CreateDirectoryTree((folder / "ok/sub").c_str()), 1);
    EXPECT_TRUE(fs::is_directory(folder / "ok/sub"));
}

TEST(CreateDirectoryTreeTest, RelativePathsAreCreatedBelowTheCurrentFolder) {
    CTempFolder folder;
    fs::path before = fs::current_path();
    fs::current_path(folder.Path());
    CreateDirectoryTree("rel/one/two");
    fs::current_path(before);
    EXPECT_TRUE(fs::is_directory(folder / "rel/one/two"));
}

TEST(ContentSiteTest, EnvironmentOverridesTheBuildsSiteAndASlashIsAlwaysAtTheEnd) {
    unsetenv("VEXA_CONTENT_SITE");
    std::string builtIn = ContentSiteBaseUrl();
    EXPECT_EQ(builtIn.rfind(VEXA_DEFAULT_CONTENT_SITE, 0), 0u);
    EXPECT_EQ(builtIn.back(), '/');

    setenv("VEXA_CONTENT_SITE", "http://127.0.0.1:8080/content", 1);
    EXPECT_EQ(ContentSiteBaseUrl(), "http://127.0.0.1:8080/content/");
    setenv("VEXA_CONTENT_SITE", "http://127.0.0.1:8080/", 1);
    EXPECT_EQ(ContentSiteBaseUrl(), "http://127.0.0.1:8080/");
    setenv("VEXA_CONTENT_SITE", "", 1);
    EXPECT_EQ(ContentSiteBaseUrl(), builtIn);
    unsetenv("VEXA_CONTENT_SITE");
}

}  // namespace
}  // namespace vexa
