// Loading shared libraries at run time: the library named by its platform-neutral base name is
// looked for in the library folder (the executable's own folder) first, then by the normal search.
#pragma once

#include <string>

namespace vexa::platform {

using LibraryHandle = void*;

// The file name of the library with this base name ("lame_enc" gives "liblame_enc.so").
std::string DynamicLibraryFileName(const std::string& baseName);

// Null when the library is found nowhere or cannot be loaded.
LibraryHandle LoadDynamicLibrary(const std::string& baseName);
// Null when the library has no such symbol.
void* GetLibrarySymbol(LibraryHandle library, const char* name);
// A null handle is ignored.
void FreeDynamicLibrary(LibraryHandle library);

// The folder searched first: the executable's folder unless another was set; "" restores that.
void SetDynamicLibraryFolder(const std::string& folder);
std::string DynamicLibraryFolder();

}  // namespace vexa::platform
