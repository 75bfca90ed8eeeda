#include "server/ContentSite.h"

#include "BuildConfig.h"
#include "platform/core/Paths.h"

namespace vexa {

std::string ContentSiteBaseUrl() {
    std::string url = platform::GetEnv("VEXA_CONTENT_SITE");
    if (url.empty()) url = VEXA_DEFAULT_CONTENT_SITE;
    if (url.empty() || url.back() != '/') url += '/';
    return url;
}

}  // namespace vexa
