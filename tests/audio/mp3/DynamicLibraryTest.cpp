#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "lame_enc/EncoderLibraryDigest.h"
#include "platform/core/Paths.h"
#include "platform/dynlib/DynamicLibrary.h"
#include "platform/dynlib/FileDigest.h"
#include "tests/audio/mp3/Mp3TestSupport.h"

namespace vexa::platform {
namespace {

struct FolderGuard {
    explicit FolderGuard(const std::string& folder) { SetDynamicLibraryFolder(folder); }
    ~FolderGuard() { SetDynamicLibraryFolder(""); }
};

struct EnvGuard {
    EnvGuard(const char* name, const std::string& value) : name(name) {
        if (const char* old = std::getenv(name)) saved = old;
        setenv(name, value.c_str(), 1);
    }
    ~EnvGuard() {
        if (saved)
            setenv(name, saved->c_str(), 1);
        else
            unsetenv(name);
    }
    const char* name;
    std::optional<std::string> saved;
};

// The file a loaded library was mapped from.
std::string LoadedFrom(LibraryHandle lib) {
    Dl_info info{};
    void* symbol = GetLibrarySymbol(lib, "beInitStream");
    return symbol != nullptr && dladdr(symbol, &info) != 0 && info.dli_fname != nullptr
               ? std::filesystem::weakly_canonical(info.dli_fname).string()
               : std::string();
}

void CopyLibrary(const std::string& fromFolder, const std::string& toFolder) {
    std::filesystem::create_directories(toFolder);
    std::filesystem::copy_file(fromFolder + std::string("/liblame_enc.so"),
                               toFolder + "/liblame_enc.so",
                               std::filesystem::copy_options::overwrite_existing);
}

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

TEST(DynamicLibrary, InstalledFoldersComeFirstThenAUserCopyWithTheExpectedDigest) {
    testing::CTempDir root;
    const std::string bin = root.File("bin"), lib = root.File("lib/vexa");
    const std::string user = root.File("data/quinbery");
    std::filesystem::create_directories(bin);
    FolderGuard guard(bin);
    EnvGuard data("XDG_DATA_HOME", root.File("data"));
    EXPECT_EQ(InstalledLibraryFolders(), (std::vector<std::string>{bin, bin + "/../lib/vexa"}));
    EXPECT_EQ(UserLibraryFolder(), user);
    {
        EnvGuard relative("XDG_DATA_HOME", "data");
        EXPECT_EQ(UserLibraryFolder(), HomeFolder() + "/.local/share/quinbery");
    }

    const std::string built = FileSha256(LAME_ENC_DIR "/liblame_enc.so");
    const std::string other = FileSha256(NO_INFO_TAG_DIR "/liblame_enc.so");
    ASSERT_NE(built, other);
    auto loadsFrom = [](const std::string& digest) {
        LibraryHandle handle = LoadDynamicLibrary("lame_enc", digest);
        std::string from = handle != nullptr ? LoadedFrom(handle) : std::string();
        FreeDynamicLibrary(handle);
        return from;
    };
    const auto canonical = [](const std::string& folder) {
        return std::filesystem::weakly_canonical(folder + "/liblame_enc.so").string();
    };

    // The per-user copy: only with the digest the caller expects, never unchecked.
    CopyLibrary(LAME_ENC_DIR, user);
    EXPECT_EQ(loadsFrom(built), canonical(user));
    EXPECT_EQ(loadsFrom(other), "");
    EXPECT_EQ(loadsFrom(""), "");
    // Installed copies are trusted as they are, whatever their digest, and come first.
    CopyLibrary(NO_INFO_TAG_DIR, lib);
    EXPECT_EQ(loadsFrom(built), canonical(lib));
    CopyLibrary(NO_INFO_TAG_DIR, bin);
    EXPECT_EQ(loadsFrom(built), canonical(bin));
}

TEST(DynamicLibrary, TheProgramKnowsTheDigestOfTheLibraryItWasBuiltWith) {
    testing::CTempDir dir;
    ASSERT_TRUE(testing::WriteBytes(dir.File("abc"), "abc", 3));
    EXPECT_EQ(FileSha256(dir.File("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(FileSha256(dir.File("missing")), "");
    EXPECT_EQ(FileSha256(dir.Path()), "");
    // Written by the build after the library was linked; a stale digest fails here.
    EXPECT_EQ(std::string(kEncoderLibrarySha256), FileSha256(LAME_ENC_DIR "/liblame_enc.so"));
}

}  // namespace
}  // namespace vexa::platform
