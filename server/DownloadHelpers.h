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
// plus one retry after 1 s, a slow or endless answer is bounded by DownloadLimits. A connection an
// earlier download left open to the site is used again.
DownloadResult DownloadFile(const std::string& url, const std::string& localPath);

// Closes the connections to the content site that downloads keep open for the next one.
void CloseKeptConnections();

// What a hostile or broken site may cost one download. A fetch slower than the minimum speed for
// the whole window is abandoned: the floor is a quarter of the slowest link we serve (4 KiB/s), and
// the window rides out a long stall of a working link. A body longer than maxBytes is cut off and
// discarded, so a site that never ends its answer cannot fill the disk.
struct DownloadLimits {
    static constexpr long long kMaxBytes = 1LL << 30;
    static constexpr long kMinBytesPerSec = 1024;
    static constexpr long kSlowWindowMs = 30000;

    long long maxBytes = kMaxBytes;
    long minBytesPerSec = kMinBytesPerSec;
    long slowWindowMs = kSlowWindowMs;
};

// The limits of the downloads that start from now on (the built-in ones until this is called).
// For tests, which cannot wait out or send the real ones. Any thread.
void SetDownloadLimits(const DownloadLimits& limits);
DownloadLimits CurrentDownloadLimits();

// True when something (file or folder) exists at path.
bool FileExists(const char* path);

// Creates every missing folder along path ('/'-separated, with or without a trailing '/'),
// outermost first. Creates what it can and always returns 1.
int CreateDirectoryTree(const char* path);

}  // namespace vexa
