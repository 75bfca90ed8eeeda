// Fetching one content-site URL into a local file, and the two folder helpers that the HTTP
// server and the content upkeep share.
#pragma once

#include <string>

namespace vexa {

// Fetches url (HTTP GET) into localPath, whose folder must exist. Reports nothing: callers judge
// by the local file. The file is replaced only by a complete answer with status 200: with a
// stated Content-Length all of its bytes must arrive, without one whatever arrives until the
// site closes (an empty body gives an empty file). Anything else leaves an existing file as it
// was. The body goes to a temporary file in the same folder that is renamed over localPath when
// complete, so readers and concurrent downloads of the same path only ever see whole files.
// An empty localPath does nothing. Any thread; an unreachable site costs up to 30 s plus one
// retry after 1 s. A connection an earlier download left open to the site is used again.
void DownloadFile(const std::string& url, const std::string& localPath);

// Closes the connections to the content site that downloads keep open for the next one.
void CloseKeptConnections();

// True when something (file or folder) exists at path.
bool FileExists(const char* path);

// Creates every missing folder along path ('/'-separated, with or without a trailing '/'),
// outermost first. Creates what it can and always returns 1.
int CreateDirectoryTree(const char* path);

}  // namespace vexa
