#include "platform/dynlib/FileDigest.h"

#include <glib.h>

#include <cstdio>
#include <memory>

namespace vexa::platform {

std::string FileSha256(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         &std::fclose);
    if (!file) return {};
    std::unique_ptr<GChecksum, void (*)(GChecksum*)> sum(g_checksum_new(G_CHECKSUM_SHA256),
                                                         &g_checksum_free);
    unsigned char buffer[65536];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
        g_checksum_update(sum.get(), buffer, static_cast<gssize>(n));
    // A read error (a folder, a vanished file) must not pass as the digest of what was read.
    if (std::ferror(file.get())) return {};
    return g_checksum_get_string(sum.get());
}

}  // namespace vexa::platform
