// Fetching one content-site URL into a local file, and the two folder helpers that the HTTP
// server and the content upkeep share.
#pragma once

#include <cstddef>
#include <string>

namespace vexa {

// Sees a download as it arrives, for a caller that passes it on while it is being stored.
class IDownloadWatcher {
  public:
    virtual ~IDownloadWatcher() = default;
    // The site answered 200 and the body is being stored; its stated length, -1 when none.
    virtual void OnStart(long long contentLength) = 0;
    // The next bytes of the body, as they arrive, before they are written to the file.
    virtual void OnBytes(const char* data, std::size_t size) = 0;
    // Now and then between pieces, also while nothing arrives (about once a second then).
    virtual void OnIdle() {}
};

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
// A watcher sees the body stored; whether it all came is told by the result alone.
DownloadResult DownloadFile(const std::string& url, const std::string& localPath,
                            IDownloadWatcher* watcher = nullptr);

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
