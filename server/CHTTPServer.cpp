#include "server/CHTTPServer.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>

#include "server/ContentSite.h"
#include "server/DownloadHelpers.h"
#include "server/PortProbe.h"

namespace vexa {

namespace {

constexpr const char* kServerName = "Web1.0";
// A file up to this size goes out in one piece with its head; a larger one is sent from the file.
constexpr std::uint64_t kInlineBodyBytes = 64 * 1024;

std::string HttpDate() {
    // Formatted by hand: the program's locale may name days and months in another language.
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    using namespace std::chrono;
    auto now = floor<seconds>(system_clock::now());
    auto day = floor<days>(now);
    year_month_day date{day};
    hh_mm_ss<seconds> time{now - day};
    char buf[128];
    std::snprintf(buf, sizeof buf, "%s, %02u %s %04d %02d:%02d:%02d GMT",
                  kDays[weekday{day}.c_encoding()], static_cast<unsigned>(date.day()),
                  kMonths[static_cast<unsigned>(date.month()) - 1], static_cast<int>(date.year()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return buf;
}

std::string ShortReply(const char* status) {
    char buf[2048];
    std::snprintf(buf, sizeof buf,
                  "HTTP/1.0 %s\r\nContent-Length: %d\r\nContent-Type: text/html\r\nDate: "
                  "%s\r\nServer: %s\r\n\r\n%s",
                  status, 0, HttpDate().c_str(), kServerName, "");
    return buf;
}

std::string FullReplyHead(const char* status, std::size_t length, bool keepAlive,
                          const std::string& contentType) {
    char buf[2048];
    std::snprintf(buf, sizeof buf,
                  "HTTP/1.0 %s\r\nDate: %s\r\nServer: %s\r\nAccept-Ranges: bytes\r\n"
                  "Content-Length: %d\r\nConnection: %s\r\nContent-Type: %s\r\n\r\n",
                  status, HttpDate().c_str(), kServerName, static_cast<int>(length),
                  keepAlive ? "Keep-Alive" : "close", contentType.c_str());
    return buf;
}

bool HasControlBytes(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

// True when some segment of s, split at '/' or '\', is "..". The backslash counts because it
// is a separator wherever the program also runs.
bool ClimbsOut(const std::string& s) {
    std::size_t start = 0;
    for (std::size_t i = 0; i <= s.size(); ++i) {
        if (i == s.size() || s[i] == '/' || s[i] == '\\') {
            if (s.compare(start, i - start, "..") == 0) return true;
            start = i + 1;
        }
    }
    return false;
}

// Whether the request's target may be mapped into the document root at all.
bool StaysInRoot(const std::string& relative, const std::string& path, const std::string& query,
                 const std::string& storedName) {
    if (HasControlBytes(relative)) return false;
    if (!relative.empty() && (relative[0] == '/' || relative[0] == '\\')) return false;
    if (ClimbsOut(path)) return false;
    if (query.find_first_of("/\\") != std::string::npos) return false;
    if (query.find("..") != std::string::npos) return false;
    // The query goes in front of the file name, so the two together can form a ".." that neither
    // holds: "?." before ".\\x" gives "..\\x".
    if (ClimbsOut(storedName)) return false;
    return storedName != ".." && storedName != ".";
}

std::string LowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// True for the names under which the movie reaches this server: the loopback addresses and
// localhost, bare or with the server's own port.
bool NamesThisServer(const std::string& value, int port) {
    std::string host = value;
    std::string suffix = ":" + std::to_string(port);
    if (host.size() > suffix.size() &&
        host.compare(host.size() - suffix.size(), suffix.size(), suffix) == 0)
        host.resize(host.size() - suffix.size());
    return host == "127.0.0.1" || host == "[::1]" || LowerAscii(host) == "localhost";
}

// A web page elsewhere can point a name of its own at 127.0.0.1 (DNS rebinding) and then read
// the mirror through the user's browser; such a request names that host. A request without
// any Host line (an HTTP/1.0 client) is ours.
bool FromForeignHost(const std::string& request, int port) {
    std::size_t headEnd = request.find("\r\n\r\n");
    std::size_t line = request.find('\n');
    while (line != std::string::npos && line < headEnd) {
        std::size_t start = line + 1;
        std::size_t end = request.find('\n', start);
        std::string header =
            request.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!header.empty() && header.back() == '\r') header.pop_back();
        if (header.size() >= 5 && LowerAscii(header.substr(0, 5)) == "host:") {
            std::size_t first = header.find_first_not_of(" \t", 5);
            std::size_t last = header.find_last_not_of(" \t");
            std::string value =
                first == std::string::npos ? "" : header.substr(first, last - first + 1);
            if (!NamesThisServer(value, port)) return true;
        }
        line = end;
    }
    return false;
}

// Passes a file being fetched on to the client as it comes: the head once the site has stated
// the length, then the body. What arrives goes out in batches, and whenever the fetch waits for
// the site; what the connection does not take at once waits here for the next turn. Beyond a
// bound the rest is sent from the stored file afterwards, so a slow client never slows the
// fetch.
class CPassOn : public IDownloadWatcher {
  public:
    CPassOn(const CGenericServer::TrySendProc& trySend, const std::string& contentType,
            bool keepAlive)
        : m_trySend(trySend), m_contentType(contentType), m_keepAlive(keepAlive) {}

    void OnStart(long long contentLength) override {
        // Without a stated length the head has to wait for the whole file.
        if (contentLength <= 0) return;
        m_length = static_cast<std::uint64_t>(contentLength);
        m_head = FullReplyHead("200 OK", static_cast<std::size_t>(contentLength), m_keepAlive,
                               m_contentType);
        m_started = true;
        m_waiting = m_head;
    }
    void OnBytes(const char* data, std::size_t size) override {
        if (!m_started || !m_passing) return;
        if (m_waiting.size() + size > kMaxWaiting) {
            Flush();
            if (!m_passing) return;
            if (m_waiting.size() + size > kMaxWaiting) {
                m_passing = false;
                return;
            }
        }
        m_received += size;
        m_waiting.append(data, size);
        if (m_waiting.size() < kBatchBytes && m_received < m_length) return;
        Flush();
        if (m_received >= m_length && m_waiting.empty()) {
            // The client has the whole reply and has just been woken to read it, mostly on this
            // processor: it goes first, then this thread stores the file. The other way round
            // the client would wait for the disk.
            std::this_thread::yield();
        }
    }
    void OnIdle() override { Flush(); }

    // Sends what waits, as far as the connection takes it now.
    void Flush() {
        if (!m_passing || m_waiting.empty()) return;
        long n = m_trySend(m_waiting.data(), m_waiting.size());
        if (n < 0) {
            m_failed = true;
            m_passing = false;
            return;
        }
        m_sent += static_cast<std::uint64_t>(n);
        m_waiting.erase(0, static_cast<std::size_t>(n));
    }

    bool Started() const { return m_started; }
    bool Failed() const { return m_failed; }
    std::uint64_t Length() const { return m_length; }
    const std::string& Head() const { return m_head; }
    // Bytes of the reply (head, then body) the client has been given.
    std::uint64_t Sent() const { return m_sent; }

  private:
    static constexpr std::size_t kBatchBytes = 64 * 1024;
    static constexpr std::size_t kMaxWaiting = 1024 * 1024;

    const CGenericServer::TrySendProc& m_trySend;
    const std::string& m_contentType;
    bool m_keepAlive;
    bool m_started = false;
    bool m_passing = true;
    bool m_failed = false;
    std::uint64_t m_length = 0;
    std::uint64_t m_sent = 0;
    std::uint64_t m_received = 0;  // of the body
    std::string m_head;
    std::string m_waiting;  // taken from the fetch, not yet by the connection
};

std::uint64_t SizeOf(std::FILE* file) {
    std::uint64_t size = 0;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        long end = std::ftell(file);
        if (end > 0) size = static_cast<std::uint64_t>(end);
    }
    std::rewind(file);
    return size;
}

}  // namespace

struct CHTTPServer::SFetchSlot {
    std::mutex lock;
    // Under m_fetchLock:
    int users = 0;
    std::uint64_t refreshes = 0;  // refreshes finished
    std::string lastUrl;          // the URL of the last of them
};

CHTTPServer::CHTTPServer()
    : m_mimeTypes{{"swf", "application/x-shockwave-flash"},
                  {"mp3", "audio/mpeg"},
                  {"gif", "image/gif"},
                  {"jpeg", "image/jpeg"},
                  {"jpg", "image/jpeg"},
                  {"bin", "application/octet-stream"},
                  {"dll", "application/octet-stream"},
                  {"iso", "application/octet-stream"},
                  {"exe", "application/octet-stream"},
                  {"gz", "application/x-gzip"},
                  {"js", "application/x-javascript"},
                  {"zip", "application/zip"},
                  {"cab", "application/x-compressed"},
                  {"mid", "audio/midi"},
                  {"rmi", "audio/midi"},
                  {"wav", "audio/wav"},
                  {"bmp", "image/bmp"},
                  {"htm", "text/html"},
                  {"html", "text/html"},
                  {"txt", "text/plain"},
                  {"css", "text/css"},
                  {"mpeg", "video/mpeg"},
                  {"mpg", "video/mpeg"},
                  {"mpe", "video/mpeg"},
                  {"avi", "video/msvideo"},
                  {"mov", "video/quicktime"}} {}

CHTTPServer::~CHTTPServer() {
    // The connection threads call into this object until they end.
    if (IsRunning()) Stop();
}

namespace {
constexpr int kPortAttempts = 8;
}  // namespace

int CHTTPServer::Start(const std::string& root, const std::string& defaultDocument, int port,
                       int clientTimeoutMs) {
    // The connection threads read the root and the rest without a lock: leave them be.
    if (IsRunning()) return Run(port, clientTimeoutMs, "127.0.0.1");
    DeleteLog();
    if (root.empty()) {
        // An empty root would become the file system's root.
        WriteLog("Document root is empty", "Start", 0);
        return 0;
    }
    m_strRoot = root;
    m_strDefaultDocument = defaultDocument;
    m_strBaseUrl = ContentSiteBaseUrl();
    if (m_strRoot.back() != '/') m_strRoot += '/';
    CreateDirectoryTree(m_strRoot.c_str());

    // A port found free can be taken by another program before the listener binds it (two
    // copies starting together, say); the next free one is tried then.
    for (int attempt = 0; attempt < kPortAttempts; ++attempt) {
        int free = FindFreePort(port);
        if (free < 0) {
            WriteLog("No free port found from", "Start", port);
            return 0;
        }
        // Loopback only: the server hands out the child's data folder and fetches on demand.
        if (Run(free, clientTimeoutMs, "127.0.0.1") == 1) return 1;
        port = free + 1;
    }
    return 0;
}

int CHTTPServer::Stop() {
    int result = Shutdown();
    CloseKeptConnections();
    return result;
}

int CHTTPServer::OnClientConnect(const char*, int) {
    return 0;
}

int CHTTPServer::OnBytesSent(unsigned) {
    return 0;
}

int CHTTPServer::IsRequestComplete(const std::string& request) {
    return request.size() >= 4 && request.compare(request.size() - 4, 4, "\r\n\r\n") == 0 ? 1 : 0;
}

void CHTTPServer::Fetch(const std::string& url, const std::string& localPath, bool onlyWhenMissing,
                        IDownloadWatcher* watcher) {
    // A site that just said nothing would cost every request its own time-out. While it is
    // known to be silent, a missing file is not found at once and a refresh keeps the local copy.
    if (m_siteOutage->IsDown()) return;
    SFetchSlot* slot;
    std::uint64_t seen;
    {
        std::lock_guard<std::mutex> g(m_fetchLock);
        auto& entry = m_fetchSlots[localPath];
        if (!entry) entry = std::make_unique<SFetchSlot>();
        slot = entry.get();
        ++slot->users;
        seen = slot->refreshes;
    }
    {
        std::lock_guard<std::mutex> turn(slot->lock);
        bool needed;
        if (onlyWhenMissing) {
            needed = !FileExists(localPath.c_str());
        } else {
            // A refresh of the same URL that finished while this one waited stands for it, so an
            // unreachable site costs its time-out once, not once per waiting connection. Another
            // URL stored under the same name (XML documents drop their query) is fetched anew.
            std::lock_guard<std::mutex> g(m_fetchLock);
            needed = !(slot->refreshes > seen && slot->lastUrl == url);
        }
        // The fetch this one waited for may have found the site silent.
        if (needed && m_siteOutage->IsDown()) needed = false;
        if (needed) {
            m_siteOutage->Note(DownloadFile(url, localPath, watcher));
            if (!onlyWhenMissing) {
                std::lock_guard<std::mutex> g(m_fetchLock);
                ++slot->refreshes;
                slot->lastUrl = url;
            }
        }
    }
    std::lock_guard<std::mutex> g(m_fetchLock);
    if (--slot->users == 0) m_fetchSlots.erase(localPath);
}

int CHTTPServer::ParseRequest(const std::string& request, std::string* reply, int* keepAlive) {
    return BuildReply(request, reply, keepAlive, nullptr, nullptr);
}

int CHTTPServer::BuildReply(const std::string& request, std::string* reply, int* keepAlive,
                            SReplyBody* body, const TrySendProc& trySend) {
    const char* status = "200 OK";
    std::string contentType = "text/html";

    std::size_t space = request.find(' ');
    if (space == std::string::npos) {
        WriteLog("No 'space' found in Request String #2", "ParseRequest", 0);
        return 0;
    }
    if (request.compare(0, space, "GET") != 0) {
        *keepAlive = 0;
        *reply = ShortReply("501 Not Implemented");
        return 1;
    }
    if (FromForeignHost(request, GetPort())) {
        *keepAlive = 0;
        *reply = ShortReply("404 Resource not found");
        return 1;
    }
    std::size_t uriEnd = request.find(' ', space + 1);
    std::string uri = request.substr(
        space + 1, uriEnd == std::string::npos ? std::string::npos : uriEnd - space - 1);
    if (uri == "/") uri = m_strDefaultDocument;
    if (request.find("\nConnection: Keep-Alive") != std::string::npos) *keepAlive = 1;

    std::string relative = uri;
    if (relative.rfind("//", 0) == 0)
        relative.erase(0, 2);
    else if (!relative.empty() && relative[0] == '/')
        relative.erase(0, 1);

    std::string query;
    std::string path = relative;
    std::size_t mark = relative.rfind('?');
    if (mark != std::string::npos && mark > 0) {
        query = relative.substr(mark + 1);
        path = relative.substr(0, mark);
    }

    std::string extension;
    if (std::size_t dot = path.rfind('.'); dot != std::string::npos) {
        extension = LowerAscii(path.substr(dot + 1));
        if (auto it = m_mimeTypes.find(extension); it != m_mimeTypes.end())
            contentType = it->second;
    }

    std::string fileName = path;
    std::string directory;
    if (std::size_t slash = path.rfind('/'); slash != std::string::npos && slash >= 1) {
        fileName = path.substr(slash + 1);
        directory = path.substr(0, slash);
        if (!directory.empty() && directory[0] == '/') directory.erase(0, 1);
    }
    bool isXml = extension == "xml";
    std::string storedName = isXml ? fileName : query + fileName;

    if (!StaysInRoot(relative, path, query, storedName)) {
        *keepAlive = 0;
        *reply = ShortReply("404 Resource not found");
        return 1;
    }

    std::string folder = m_strRoot + directory;
    // The folder is made before something is fetched into it: a file that is there costs no
    // look at it.
    bool folderMade = directory.empty();
    auto makeFolder = [&] {
        if (!folderMade) CreateDirectoryTree(folder.c_str());
        folderMade = true;
    };
    if (folder.back() != '/') folder += '/';
    std::string localPath = folder + storedName;

    std::string url = m_strBaseUrl + relative;
    if (relative.find("vexa.swf") != std::string::npos || isXml) {
        makeFolder();
        Fetch(url, localPath, false);
    }
    CPassOn passOn(trySend, contentType, *keepAlive != 0);
    // Opened for writing too, as a read-only file counts as missing.
    std::FILE* file = std::fopen(localPath.c_str(), "r+b");
    if (file == nullptr) {
        makeFolder();
        Fetch(url, localPath, true, body != nullptr && trySend ? &passOn : nullptr);
        file = std::fopen(localPath.c_str(), "r+b");
    }
    // The last batch of a fetch that was passed on.
    passOn.Flush();
    if (passOn.Started()) {
        // The client has the head and perhaps some of the body: the rest comes from the stored
        // file. A fetch that broke off leaves it short of the length it was told, and the
        // connection ends there.
        if (file == nullptr || passOn.Failed() || SizeOf(file) != passOn.Length()) {
            if (file != nullptr) std::fclose(file);
            *keepAlive = 0;
            reply->clear();
            return 1;
        }
        const std::string& head = passOn.Head();
        std::uint64_t sent = passOn.Sent();
        reply->assign(head, static_cast<std::size_t>(std::min<std::uint64_t>(sent, head.size())));
        body->file = file;
        body->offset = sent > head.size() ? sent - head.size() : 0;
        body->size = passOn.Length() - body->offset;
        return 1;
    }
    if (file == nullptr) {
        *keepAlive = 0;
        *reply = ShortReply("404 Resource not found");
        return 1;
    }
    std::size_t size = static_cast<std::size_t>(SizeOf(file));
    if (body != nullptr && size > kInlineBodyBytes) {
        *reply = FullReplyHead(status, size, *keepAlive != 0, contentType);
        body->file = file;
        body->offset = 0;
        body->size = size;
        return 1;
    }
    // The body is read straight behind the head into the connection thread's reply buffer,
    // which it keeps from one reply to the next: a buffer already large enough is only cut to
    // size, never cleared, so a large file costs neither an allocation nor filling it first.
    std::string head = FullReplyHead(status, size, *keepAlive != 0, contentType);
    if (reply->size() < head.size() + size) reply->resize(head.size() + size);
    reply->replace(0, head.size(), head);
    std::size_t n = size > 0 ? std::fread(reply->data() + head.size(), 1, size, file) : 0;
    reply->resize(head.size() + n);
    std::fclose(file);
    if (n != size) {
        // The file changed under us: the head states what was read.
        reply->replace(0, head.size(), FullReplyHead(status, n, *keepAlive != 0, contentType));
    }
    return 1;
}

}  // namespace vexa
