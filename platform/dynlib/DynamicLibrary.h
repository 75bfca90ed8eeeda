// Loading shared libraries at run time. A library named by its platform-neutral base name is
// looked for, in this order: in the library folder (the executable's own, as in a build tree),
// in the installed library folder "../lib/vexa" beside it (as in a package, under any prefix),
// in the per-user library folder (only a copy with the digest the caller expects), and last by
// the normal search.
#pragma once

#include <string>
#include <vector>

namespace vexa::platform {

using LibraryHandle = void*;

// The file name of the library with this base name ("lame_enc" gives "liblame_enc.so").
std::string DynamicLibraryFileName(const std::string& baseName);

// Null when the library is found nowhere or cannot be loaded. A copy in UserLibraryFolder() is
// loaded only when userCopySha256 is given and is the file's FileSha256: that folder holds what
// the program fetched itself, while the other folders hold what was installed with it.
LibraryHandle LoadDynamicLibrary(const std::string& baseName,
                                 const std::string& userCopySha256 = {});
// Null when the library has no such symbol.
void* GetLibrarySymbol(LibraryHandle library, const char* name);
// A null handle is ignored.
void FreeDynamicLibrary(LibraryHandle library);

// The folder searched first: the executable's folder unless another was set; "" restores that.
void SetDynamicLibraryFolder(const std::string& folder);
std::string DynamicLibraryFolder();

// The folders that hold libraries installed with the program whose folder is given, in search
// order: that folder and its "../lib/vexa"; without an argument, those of DynamicLibraryFolder().
// Empty when the folder is "".
std::vector<std::string> InstalledLibraryFolders(const std::string& programFolder);
std::vector<std::string> InstalledLibraryFolders();

// Where the program keeps a library it fetched: "$XDG_DATA_HOME/quinbery" when that is absolute,
// else "~/.local/share/quinbery"; without a trailing slash. Nothing is created.
std::string UserLibraryFolder();

}  // namespace vexa::platform
