#include <gtest/gtest.h>

#include "platform/core/Paths.h"
#include "platform/dynlib/DynamicLibrary.h"
#include "tests/audio/mp3/Mp3TestSupport.h"

namespace vexa::platform {
namespace {

struct FolderGuard {
    explicit FolderGuard(const std::string& folder) { SetDynamicLibraryFolder(folder); }
    ~FolderGuard() { SetDynamicLibraryFolder(""); }
};

TEST(DynamicLibrary, LooksInTheExecutablesFolderByDefault) {
    EXPECT_EQ(DynamicLibraryFileName("lame_enc"), "liblame_enc.so");
    std::string exe = ExecutablePath();
    EXPECT_EQ(DynamicLibraryFolder(), exe.substr(0, exe.rfind('/')));
    {
        FolderGuard folder("/some/where");
        EXPECT_EQ(DynamicLibraryFolder(), "/some/where");
    }
    EXPECT_EQ(DynamicLibraryFolder(), exe.substr(0, exe.rfind('/')));
}

TEST(DynamicLibrary, TheFolderComesBeforeTheNormalSearch) {
    // Two libraries of the same name: the folder's one is taken.
    for (const char* folder : {LAME_ENC_DIR, NO_INFO_TAG_DIR}) {
        FolderGuard guard(folder);
        LibraryHandle lib = LoadDynamicLibrary("lame_enc");
        ASSERT_NE(lib, nullptr) << folder;
        EXPECT_NE(GetLibrarySymbol(lib, "beInitStream"), nullptr);
        EXPECT_EQ(GetLibrarySymbol(lib, "beWriteInfoTag") != nullptr,
                  std::string(folder) == LAME_ENC_DIR);
        FreeDynamicLibrary(lib);
    }
}

TEST(DynamicLibrary, FallsBackToTheNormalSearchAndFailsCleanly) {
    testing::CTempDir empty;
    FolderGuard guard(empty.Path());
    // libmp3lame.so is on the system's search path, not in the folder.
    LibraryHandle lame = LoadDynamicLibrary("mp3lame");
    ASSERT_NE(lame, nullptr);
    EXPECT_NE(GetLibrarySymbol(lame, "lame_init"), nullptr);
    EXPECT_EQ(GetLibrarySymbol(lame, "no_such_symbol"), nullptr);
    FreeDynamicLibrary(lame);
    EXPECT_EQ(LoadDynamicLibrary("lame_enc"), nullptr);
    EXPECT_EQ(LoadDynamicLibrary("vexa_no_such_library"), nullptr);
    EXPECT_EQ(LoadDynamicLibrary("../lame_enc"), nullptr);
    EXPECT_EQ(LoadDynamicLibrary(""), nullptr);
    EXPECT_EQ(GetLibrarySymbol(nullptr, "beInitStream"), nullptr);
    FreeDynamicLibrary(nullptr);
}

}  // namespace
}  // namespace vexa::platform
