// Digests of files, for telling whether a library on disk is the one the program was built with.
#pragma once

#include <string>

namespace vexa::platform {

// The SHA-256 of the file's bytes as 64 lower-case hex digits; "" when it cannot be read.
std::string FileSha256(const std::string& path);

}  // namespace vexa::platform
