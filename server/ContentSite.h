// The base URL of the maker's content site, from which every download comes.
#pragma once

#include <string>

namespace vexa {

// The build's content site, or VEXA_CONTENT_SITE when that is set and not empty; always ends
// with '/'.
std::string ContentSiteBaseUrl();

}  // namespace vexa
