#include "server/DownloadHelpers.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <system_error>
#include <thread>
#include <vector>

#include "BuildConfig.h"
#include "platform/http/HttpGet.h"

namespace vexa {

namespace fs = std::filesystem;

namespace {

// Enough of the target's name to tell whose download it is, short enough that a target name at
// the file system's limit still leaves room for the prefix and suffix.
constexpr std::string::size_type kTempNameKeep = 32;
constexpr std::size_t kFileBufferBytes = 512 * 1024;

std::mutex g_limitsLock;
DownloadLimits g_limits;

// Buffers for files being stored, kept from one download to the next: a fresh one would be
// mapped, faulted in page by page and unmapped again for every file, and every connection
// downloads on a thread of its own.
class CFileBuffers {
  public:
    static std::unique_ptr<char[]> Take() {
        {
            std::lock_guard<std::mutex> g(s_lock);
            if (!s_idle.empty()) {
                std::unique_ptr<char[]> buffer = std::move(s_idle.back());
                s_idle.pop_back();
                return buffer;
            }
        }
        return std::unique_ptr<char[]>(new char[kFileBufferBytes]);
    }
    static void Give(std::unique_ptr<char[]> buffer) {
        std::lock_guard<std::mutex> g(s_lock);
        if (buffer != nullptr && s_idle.size() < kMaxIdleBuffers)
            s_idle.push_back(std::move(buffer));
    }

  private:
    // As many as the web view's connections, with room for the upkeep.
    static constexpr std::size_t kMaxIdleBuffers = 8;
    static inline std::mutex s_lock;
    static inline std::vector<std::unique_ptr<char[]>> s_idle;
};

// A name of its own for every download in progress, next to the target so that the final
// rename stays on one file system. The leading dot keeps it out of casual listings.
std::string TempPathFor(const std::string& localPath) {
    static std::atomic<std::uint64_t> counter{0};
    static const std::uint64_t salt = [] {
        std::random_device rd;
        return (static_cast<std::uint64_t>(rd()) << 32) ^ rd();
    }();
    std::uint64_t n = counter.fetch_add(1) ^ salt ^
                      (std::hash<std::thread::id>{}(std::this_thread::get_id()) << 20);
    std::string::size_type slash = localPath.rfind('/');
    std::string folder =
        slash == std::string::npos ? std::string() : localPath.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? localPath : localPath.substr(slash + 1);
    if (name.size() > kTempNameKeep) name.resize(kTempNameKeep);
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%016llx.part", static_cast<unsigned long long>(n));
    return folder + "." + name + suffix;
}

class CFileSink : public platform::IHttpGetSink {
  public:
    CFileSink(std::string localPath, IDownloadWatcher* watcher)
        : m_localPath(std::move(localPath)), m_watcher(watcher) {}
    CFileSink(const CFileSink&) = delete;
    CFileSink& operator=(const CFileSink&) = delete;
    ~CFileSink() override {
        if (m_file != nullptr) std::fclose(m_file);
        if (!m_tempPath.empty()) std::remove(m_tempPath.c_str());
        CFileBuffers::Give(std::move(m_buffer));
    }

    bool OnResponse(int status, long long contentLength) override {
        if (status != 200) return false;
        m_statedLength = contentLength > 0 ? contentLength : -1;
        // Without its folder the file could not be stored: it is not taken at all.
        std::string::size_type slash = m_localPath.rfind('/');
        if (slash != std::string::npos && !FileExists(m_localPath.substr(0, slash + 1).c_str()))
            return false;
        // A file of a few hundred KiB is held here and reaches the disk in one go when it is
        // complete, after a watcher has passed it on: creating a file alone costs about as much
        // as fetching a small one from a site nearby. A larger one goes to the disk as the
        // buffer fills.
        m_buffer = CFileBuffers::Take();
        m_started = true;
        if (m_watcher != nullptr) m_watcher->OnStart(m_statedLength);
        return true;
    }

    bool OnBody(const char* data, std::size_t size) override {
        if (m_statedLength >= 0 && m_received + static_cast<long long>(size) > m_statedLength)
            size = static_cast<std::size_t>(m_statedLength - m_received);
        if (size == 0) return true;
        if (m_watcher != nullptr) m_watcher->OnBytes(data, size);
        if (m_held + size > kFileBufferBytes && !WriteHeld()) return false;
        if (size > kFileBufferBytes) {
            if (std::fwrite(data, 1, size, m_file) != size) return false;
        } else {
            std::memcpy(m_buffer.get() + m_held, data, size);
            m_held += size;
        }
        m_received += static_cast<long long>(size);
        return true;
    }

    void OnIdle() override {
        if (m_watcher != nullptr && m_started) m_watcher->OnIdle();
    }

    // Puts the finished body in place when the answer was complete; otherwise nothing is kept
    // and the target stays as it was.
    // True when the file was put in place.
    bool Finish(bool transferComplete) {
        if (!m_started) return false;
        bool whole = m_statedLength >= 0 ? m_received == m_statedLength : transferComplete;
        if (!whole) return false;
        if (!WriteHeld()) return false;
        bool written = std::fclose(m_file) == 0;
        m_file = nullptr;
        if (!written) return false;
        std::error_code ec;
        fs::rename(m_tempPath, m_localPath, ec);
        if (ec) return false;
        m_tempPath.clear();
        return true;
    }

  private:
    // Creates the temporary file on first use and writes out what the buffer holds.
    bool WriteHeld() {
        for (int tries = 0; tries < 8 && m_file == nullptr; ++tries) {
            std::string temp = TempPathFor(m_localPath);
            m_file = std::fopen(temp.c_str(), "wbx");
            if (m_file != nullptr)
                m_tempPath = temp;
            else if (errno != EEXIST)
                break;
        }
        if (m_file == nullptr) return false;
        if (m_held > 0 && std::fwrite(m_buffer.get(), 1, m_held, m_file) != m_held) return false;
        m_held = 0;
        return true;
    }

    std::string m_localPath;
    std::string m_tempPath;
    IDownloadWatcher* m_watcher;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_held = 0;  // bytes in the buffer, not yet in the file
    std::FILE* m_file = nullptr;
    bool m_started = false;
    long long m_statedLength = -1;
    long long m_received = 0;
};

}  // namespace

void SetDownloadLimits(const DownloadLimits& limits) {
    std::lock_guard<std::mutex> guard(g_limitsLock);
    g_limits = limits;
}

DownloadLimits CurrentDownloadLimits() {
    std::lock_guard<std::mutex> guard(g_limitsLock);
    return g_limits;
}

DownloadResult DownloadFile(const std::string& url, const std::string& localPath,
                            IDownloadWatcher* watcher) {
    if (localPath.empty()) return DownloadResult::kNotStored;
    const DownloadLimits limits = CurrentDownloadLimits();
    platform::HttpGetOptions options;
    options.userAgent = VEXA_PRODUCT_NAME "/" VEXA_VERSION;
    options.connectTimeoutMs = 30000;
    options.connectRetries = 1;
    options.retryDelayMs = 1000;
    options.stallTimeoutMs = limits.slowWindowMs;
    options.lowSpeedBytesPerSec = limits.minBytesPerSec;
    options.maxBodyBytes = limits.maxBytes;
    // Enough for a move of the site and a login detour; a loop is cut short.
    options.maxRedirects = 10;
    CFileSink sink(localPath, watcher);
    platform::HttpGetFailure failure = platform::HttpGetFailure::kNone;
    bool complete = platform::HttpGet(url, options, sink, &failure);
    if (sink.Finish(complete)) return DownloadResult::kStored;
    return failure == platform::HttpGetFailure::kNoAnswer ? DownloadResult::kNoAnswer
                                                          : DownloadResult::kNotStored;
}

void CloseKeptConnections() {
    platform::HttpGetDropIdleConnections();
}

bool FileExists(const char* path) {
    if (path == nullptr || *path == '\0') return false;
    std::error_code ec;
    return fs::exists(fs::path(path), ec);
}

int CreateDirectoryTree(const char* path) {
    if (path == nullptr || *path == '\0') return 1;
    // Mostly it is all there already.
    if (FileExists(path)) return 1;
    std::string tree(path);
    if (tree.back() != '/') tree += '/';
    std::string::size_type pos = tree.find('/');
    // A drive root ("C:/") exists or cannot be made; it is never created.
    if (pos == 2 && tree[1] == ':') pos = tree.find('/', pos + 1);
    for (; pos != std::string::npos; pos = tree.find('/', pos + 1)) {
        if (pos == 0) continue;  // the file-system root
        std::string prefix = tree.substr(0, pos + 1);
        if (!FileExists(prefix.c_str())) {
            std::error_code ec;
            fs::create_directory(fs::path(prefix), ec);
        }
    }
    return 1;
}

}  // namespace vexa
