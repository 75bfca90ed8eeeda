// Fetching one content-site URL into a local file, and the two folder helpers that the HTTP
// server and the content upkeep share.
#pragma once

#include <string>

namespace vexa {

// What became of one download. Most callers judge by the local file alone; the difference
// between a site that answered (whatever it said) and one that did not lets a caller stop
// waiting on a site that is down.
enum class DownloadResult {
    kStored,     // localPath now holds the answer's body
    kNotStored,  // the site answered, but not with a complete 200 (or the file could not be
                 // written): the local file is as it was
    kNoAnswer,   // nothing came back (no connection, or silence until the time-out)
};

// Fetches url (HTTP GET) into localPath, whose folder must exist. Callers may judge by the
// local file alone. The file is replaced only by a complete answer with status 200: with a
// stated Content-Length all of its bytes must arrive, without one whatever arrives until the
// site closes (an empty body gives an empty file). Anything else leaves an existing file as it
// was. The body goes to a temporary file in the same folder that is renamed over localPath when
// complete, so readers and concurrent downloads of the same path only ever see whole files.
// An empty localPath does nothing (kNotStored). Any thread; an unreachable site costs up to 30 s
// plus one retry after 1 s. A connection an earlier download left open to the site is used again.
DownloadResult DownloadFile(const std::string& url, const std::string& localPath);

// Closes the connections to the content site that downloads keep open for the next one.
void CloseKeptConnections();

// True when something (file or folder) exists at path.
bool FileExists(const char* path);

// Creates every missing folder along path ('/'-separated, with or without a trailing '/'),
// outermost first. Creates what it can and always returns 1.
int CreateDirectoryTree(const char* path);

}  // namespace vexa
