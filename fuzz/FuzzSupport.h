// Small helpers shared by the fuzz targets: a failed check aborts, so libFuzzer keeps the input;
// a scratch folder lives for the whole run.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace vexa::fuzz {

inline void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

// A fresh folder under $TMPDIR (else /dev/shm, else /tmp), made once per process and removed at
// its exit. The targets create and delete files at every run: a memory file system keeps that
// from dominating the run time.
inline const std::string& ScratchFolder() {
    // Never destroyed: the exit handler that removes the folder runs after static destructors.
    static const std::string* path = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string base = tmp != nullptr && *tmp != '\0' ? tmp : "";
        if (base.empty()) base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = base + "/vexa-fuzz-XXXXXX";
        Require(mkdtemp(pattern.data()) != nullptr, "scratch folder");
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(ScratchFolder(), ec);
        });
        return new std::string(pattern);
    }();
    return *path;
}

}  // namespace vexa::fuzz
