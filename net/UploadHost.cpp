#include "net/UploadHost.h"

#include "BuildConfig.h"
#include "platform/core/Paths.h"

namespace vexa {
namespace {

int ParsePort(const std::string& digits) {
    if (digits.empty() || digits.size() > 5) return 80;
    int port = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 80;
        port = port * 10 + (c - '0');
    }
    return port >= 1 && port <= 65535 ? port : 80;
}

}  // namespace

UploadTarget ParseUploadHost(const std::string& text) {
    UploadTarget target;
    if (!text.empty() && text.front() == '[') {
        std::size_t close = text.find(']');
        if (close == std::string::npos) {
            target.host = text.substr(1);
            return target;
        }
        target.host = text.substr(1, close - 1);
        if (close + 1 < text.size() && text[close + 1] == ':') {
            target.port = ParsePort(text.substr(close + 2));
        }
        return target;
    }
    std::size_t colon = text.find(':');
    // More than one colon is a bare IPv6 address, which has no port.
    if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos) {
        target.host = text;
        return target;
    }
    target.host = text.substr(0, colon);
    target.port = ParsePort(text.substr(colon + 1));
    return target;
}

UploadTarget ConfiguredUploadHost() {
    std::string value = platform::GetEnv("VEXA_UPLOAD_HOST");
    return ParseUploadHost(value.empty() ? std::string(VEXA_DEFAULT_UPLOAD_HOST) : value);
}

}  // namespace vexa
