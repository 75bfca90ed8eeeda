// Where uploads go: the build's upload host, or VEXA_UPLOAD_HOST ("host", "host:port" or
// "https://host[:port]").
#pragma once

#include <string>

namespace vexa {

struct UploadTarget {
    std::string host;
    int port = 80;
    bool tls = false;  // the upload must go over verified TLS, never in clear text
};

// Parses "host", "host:port", "[v6]" or "[v6]:port". A missing, malformed or out-of-range
// port gives 80; an empty text gives an empty host. The same behind "https://" (any letter
// case, one trailing slash allowed) means TLS, and 443 in place of 80.
UploadTarget ParseUploadHost(const std::string& text);

// The environment's value when set and not empty, else the build's.
UploadTarget ConfiguredUploadHost();

}  // namespace vexa
