#include "net/UploadHost.h"

#include <cctype>

#include "BuildConfig.h"
#include "platform/core/Paths.h"

namespace vexa {
namespace {

int ParsePort(const std::string& digits, int fallback) {
    if (digits.empty() || digits.size() > 5) return fallback;
    int port = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return fallback;
        port = port * 10 + (c - '0');
    }
    return port >= 1 && port <= 65535 ? port : fallback;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    std::size_t i = 0;
    for (; prefix[i] != '\0'; ++i) {
        if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) !=
                                    static_cast<unsigned char>(prefix[i]))
            return false;
    }
    return true;
}

}  // namespace

UploadTarget ParseUploadHost(const std::string& value) {
    UploadTarget target;
    std::string text = value;
    int fallback = 80;
    if (StartsWithNoCase(text, "https://")) {
        target.tls = true;
        fallback = 443;
        text.erase(0, 8);
        if (!text.empty() && text.back() == '/') text.pop_back();
    }
    target.port = fallback;
    if (!text.empty() && text.front() == '[') {
        std::size_t close = text.find(']');
        if (close == std::string::npos) {
            target.host = text.substr(1);
            return target;
        }
        target.host = text.substr(1, close - 1);
        if (close + 1 < text.size() && text[close + 1] == ':') {
            target.port = ParsePort(text.substr(close + 2), fallback);
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
    target.port = ParsePort(text.substr(colon + 1), fallback);
    return target;
}

UploadTarget ConfiguredUploadHost() {
    std::string value = platform::GetEnv("VEXA_UPLOAD_HOST");
    return ParseUploadHost(value.empty() ? std::string(VEXA_DEFAULT_UPLOAD_HOST) : value);
}

}  // namespace vexa
