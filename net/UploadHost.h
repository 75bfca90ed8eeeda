// Where uploads go: the build's upload host, or VEXA_UPLOAD_HOST ("host" or "host:port").
#pragma once

#include <string>

namespace vexa {

struct UploadTarget {
    std::string host;
    int port = 80;
};

// Parses "host", "host:port", "[v6]" or "[v6]:port". A missing, malformed or out-of-range
// port gives 80; an empty text gives an empty host.
UploadTarget ParseUploadHost(const std::string& text);

// The environment's value when set and not empty, else the build's.
UploadTarget ConfiguredUploadHost();

}  // namespace vexa
