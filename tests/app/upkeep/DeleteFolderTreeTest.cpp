#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/ContentUpkeep.h"
#include "tests/server/download/TempFolder.h"

namespace vexa {
namespace {

namespace fs = std::filesystem;
using testing::CTempFolder;
using testing::Listing;
using testing::ReadFile;
using testing::WriteFile;

TEST(DeleteFolderTreeTest, RemovesTheFolderItselfWithEverythingBelow) {
    CTempFolder root;
    std::string lm = root / "lm";
    fs::create_directories(lm + "/mod/img/deep");
    WriteFile(lm + "/INDEX.HTML", "i");
    WriteFile(lm + "/mod/a.mp3", "a");
    WriteFile(lm + "/mod/img/deep/p.png", "p");
    WriteFile(lm + "/.hidden", "h");
    fs::create_directory(lm + "/empty");

    EXPECT_TRUE(DeleteFolderTree(lm));
    EXPECT_FALSE(fs::exists(lm));
    EXPECT_EQ(Listing(root.Path()), "");

    // The movie's "LocalFileClear" takes the data folder itself, not just its content.
    fs::create_directories(lm + "/m");
    WriteFile(lm + "/VerDel.Dat", "r");
    LocalFileClear(lm);
    EXPECT_FALSE(fs::exists(lm));
}

TEST(DeleteFolderTreeTest, MissingFolderOrAFileIsNotRemoved) {
    CTempFolder root;
    EXPECT_FALSE(DeleteFolderTree(root / "missing"));
    WriteFile(root / "file", "f");
    EXPECT_FALSE(DeleteFolderTree(root / "file"));
    EXPECT_EQ(ReadFile(root / "file"), "f");
}

TEST(DeleteFolderTreeTest, SymbolicLinksAreDeletedNotFollowed) {
    CTempFolder root;
    std::string outside = root / "outside";
    fs::create_directories(outside + "/sub");
    WriteFile(outside + "/keep.txt", "k");
    WriteFile(outside + "/sub/keep2.txt", "k2");
    std::string lm = root / "lm";
    fs::create_directories(lm + "/mod");
    fs::create_directory_symlink(outside, lm + "/mod/dirlink");
    fs::create_symlink(outside + "/keep.txt", lm + "/filelink");
    fs::create_symlink(root / "nowhere", lm + "/dangling");
    fs::create_directory_symlink(outside, root / "toplink");

    EXPECT_TRUE(DeleteFolderTree(lm));
    EXPECT_FALSE(fs::exists(lm));
    // A link given as the folder itself goes as a link too.
    EXPECT_TRUE(DeleteFolderTree(root / "toplink"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(root / "toplink")));

    EXPECT_EQ(ReadFile(outside + "/keep.txt"), "k");
    EXPECT_EQ(ReadFile(outside + "/sub/keep2.txt"), "k2");
}

TEST(DeleteFolderTreeTest, PathsFarLongerThanAnyFixedBufferWork) {
    CTempFolder root;
    std::string lm = root / "lm";
    std::string deep = lm;
    for (int level = 0; level < 12; ++level) deep += "/" + std::string(90, 'a' + level);
    ASSERT_GT(deep.size(), 1000u);
    fs::create_directories(deep);
    WriteFile(deep + "/" + std::string(200, 'f'), "x");
    WriteFile(lm + "/" + std::string(250, 'g'), "y");

    EXPECT_TRUE(DeleteFolderTree(lm));
    EXPECT_FALSE(fs::exists(lm));
}

// What cannot be deleted stays with every folder above it; everything else goes. A read-only
// folder stands in for the locked file (root may delete anything, so the walk then runs in a
// child process as an unprivileged user).
TEST(DeleteFolderTreeTest, AnUndeletableEntryKeepsItsFoldersAndTheRestGoes) {
    CTempFolder root;
    std::string lm = root / "lm";
    fs::create_directories(lm + "/mod/locked");
    fs::create_directories(lm + "/mod/other/deep");
    fs::create_directories(lm + "/second");
    WriteFile(lm + "/mod/locked/stuck.mp3", "s");
    WriteFile(lm + "/mod/other/deep/x", "x");
    WriteFile(lm + "/mod/loose.png", "l");
    WriteFile(lm + "/second/y", "y");
    WriteFile(lm + "/INDEX.HTML", "i");

    const uid_t nobody = 65534;
    bool asRoot = geteuid() == 0;
    if (asRoot) {
        for (const auto& e : fs::recursive_directory_iterator(root.Path()))
            ASSERT_EQ(lchown(e.path().c_str(), nobody, nobody), 0);
        ASSERT_EQ(chown(root.Path().c_str(), nobody, nobody), 0);
    }
    ASSERT_EQ(chmod((lm + "/mod/locked").c_str(), 0555), 0);

    bool removed = false;
    if (asRoot) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (setgid(nobody) != 0 || setuid(nobody) != 0) _exit(3);
            _exit(DeleteFolderTree(lm) ? 1 : 0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_NE(WEXITSTATUS(status), 3) << "could not become an unprivileged user";
        removed = WEXITSTATUS(status) == 1;
    } else {
        removed = DeleteFolderTree(lm);
    }
    chmod((lm + "/mod/locked").c_str(), 0755);

    EXPECT_FALSE(removed);
    EXPECT_EQ(Listing(lm), "mod");
    EXPECT_EQ(Listing(lm + "/mod"), "locked");
    EXPECT_EQ(ReadFile(lm + "/mod/locked/stuck.mp3"), "s");
}

}  // namespace
}  // namespace vexa
