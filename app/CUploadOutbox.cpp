#include "app/CUploadOutbox.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/core/Paths.h"
#include "server/CLog.h"

namespace vexa {
namespace {

namespace fs = std::filesystem;

constexpr const char* kMetaName = "entry";
constexpr const char* kMagic = "vexa-outbox 1\n";
constexpr const char* kUnfinishedPrefix = ".staging-";
constexpr const char* kDamagedName = "damaged";
constexpr std::size_t kTimeDigits = 16;
constexpr std::size_t kMetaLimit = 1 << 20;

void Log(const std::string& message, int code) {
    CLog::WriteLogLine(message.c_str(), "Outbox", code);
}

std::int64_t SystemNowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// A waiting entry's name: the attempt's time in milliseconds, then a counter for attempts
// within the same millisecond.
bool IsEntryName(const std::string& name) {
    if (name.size() != kTimeDigits + 7 || name[kTimeDigits] != '-') return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (i != kTimeDigits && (name[i] < '0' || name[i] > '9')) return false;
    return true;
}

std::int64_t EntryTimeMs(const std::string& name) {
    return std::stoll(name.substr(0, kTimeDigits));
}

std::string NewEntryName(std::int64_t nowMs) {
    static std::atomic<unsigned> counter{0};
    char name[40];
    std::snprintf(name, sizeof name, "%016lld-%06u",
                  static_cast<long long>(std::max<std::int64_t>(nowMs, 0)), counter++ % 1000000u);
    return name;
}

std::string DigestText(std::uint64_t digest) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(digest));
    return text;
}

// FNV-1a: enough to notice a kept recording whose bytes changed on disk.
void AddToDigest(std::uint64_t& digest, const char* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        digest ^= static_cast<unsigned char>(data[i]);
        digest *= 0x100000001b3ULL;
    }
}
constexpr std::uint64_t kDigestStart = 0xcbf29ce484222325ULL;

// Copies from to to; size and digest of what was copied. False on any read or write error.
bool CopyWithDigest(std::FILE* from, const std::string& to, std::uint64_t& size,
                    std::uint64_t& digest) {
    std::FILE* out = std::fopen(to.c_str(), "wb");
    if (out == nullptr) return false;
    size = 0;
    digest = kDigestStart;
    char buffer[65536];
    bool ok = true;
    std::size_t n;
    while (ok && (n = std::fread(buffer, 1, sizeof buffer, from)) > 0) {
        AddToDigest(digest, buffer, n);
        size += n;
        ok = std::fwrite(buffer, 1, n, out) == n;
    }
    ok = ok && !std::ferror(from);
    return std::fclose(out) == 0 && ok;
}

bool DigestOf(const std::string& path, std::uint64_t& size, std::uint64_t& digest) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) return false;
    size = 0;
    digest = kDigestStart;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
        AddToDigest(digest, buffer, n);
        size += n;
    }
    bool ok = !std::ferror(in);
    std::fclose(in);
    return ok;
}

// Every value is written with its length, so ids may hold any byte, line ends included.
void AppendValue(std::string& meta, const char* key, const std::string& value) {
    meta.append(key).append(" ").append(std::to_string(value.size())).append(":");
    meta.append(value).append("\n");
}

bool ReadValue(const std::string& meta, std::size_t& at, const char* key, std::string& value) {
    std::string head = std::string(key) + " ";
    if (meta.compare(at, head.size(), head) != 0) return false;
    at += head.size();
    std::size_t colon = meta.find(':', at);
    if (colon == std::string::npos || colon == at || colon - at > 9) return false;
    std::size_t length = 0;
    for (std::size_t i = at; i < colon; ++i) {
        if (meta[i] < '0' || meta[i] > '9') return false;
        length = length * 10 + static_cast<std::size_t>(meta[i] - '0');
    }
    at = colon + 1;
    if (length > meta.size() - at || meta.size() - at - length < 1 || meta[at + length] != '\n')
        return false;
    value = meta.substr(at, length);
    at += length + 1;
    return true;
}

bool WriteWhole(const std::string& path, const std::string& text) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    return std::fclose(out) == 0 && ok;
}

bool ReadWhole(const std::string& path, std::string& text) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) return false;
    text.clear();
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0 && text.size() <= kMetaLimit)
        text.append(buffer, n);
    bool ok = !std::ferror(in) && text.size() <= kMetaLimit;
    std::fclose(in);
    return ok;
}

// A file name the entry can hold: one plain component that is not the entry's own record.
bool IsPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name != kMetaName &&
           name.find_first_of("/\\") == std::string::npos && name.find('\0') == std::string::npos;
}

std::vector<std::string> NamesIn(const std::string& folder, bool (*keep)(const std::string&)) {
    std::vector<std::string> names;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        std::string name = it->path().filename().string();
        if (keep(name)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool IsUnfinishedName(const std::string& name) {
    return name.rfind(kUnfinishedPrefix, 0) == 0;
}

bool IsAnyName(const std::string& name) {
    return name != "." && name != "..";
}

}  // namespace

CUploadOutbox::CUploadOutbox(std::string folder)
    : m_folder(std::move(folder)), m_nowMs(SystemNowMs) {}

std::string CUploadOutbox::DefaultFolder() {
    return platform::StateFolder() + "/outbox";
}

std::string CUploadOutbox::EntryFolder(const std::string& name) const {
    return m_folder + "/" + name;
}

std::string CUploadOutbox::DamagedFolder() const {
    return m_folder + "/" + kDamagedName;
}

CUploadOutbox::StageResult CUploadOutbox::Stage(const std::string& urlPath, const std::string& uid,
                                                const std::string& tid,
                                                const std::string& recording, Entry& staged) {
    std::error_code error;
    if (!fs::is_regular_file(recording, error)) return StageResult::NoFile;
    std::FILE* in = std::fopen(recording.c_str(), "rb");
    if (in == nullptr) return StageResult::NoFile;

    std::string fileName = fs::path(recording).filename().string();
    staged = Entry{};
    staged.name = NewEntryName(m_nowMs());
    staged.urlPath = urlPath;
    staged.uid = uid;
    staged.tid = tid;
    std::string folder = EntryFolder(kUnfinishedPrefix + staged.name);
    staged.filePath = folder + "/" + fileName;

    std::uint64_t size = 0;
    std::uint64_t digest = 0;
    fs::create_directories(m_folder, error);
    bool ok = IsPlainFileName(fileName) && fs::create_directory(folder, error) &&
              CopyWithDigest(in, staged.filePath, size, digest);
    std::fclose(in);
    if (ok) {
        std::string meta = kMagic;
        AppendValue(meta, "path", urlPath);
        AppendValue(meta, "uid", uid);
        AppendValue(meta, "tid", tid);
        AppendValue(meta, "file", fileName);
        AppendValue(meta, "size", std::to_string(size));
        AppendValue(meta, "digest", DigestText(digest));
        ok = WriteWhole(folder + "/" + kMetaName, meta);
    }
    if (!ok) {
        fs::remove_all(folder, error);
        return StageResult::Failed;
    }
    return StageResult::Staged;
}

bool CUploadOutbox::Keep(const Entry& staged, int status) {
    std::string from = EntryFolder(kUnfinishedPrefix + staged.name);
    std::error_code error;
    fs::rename(from, EntryFolder(staged.name), error);
    if (error) {
        Log("Upload could not be kept in the outbox: " + error.message(), status);
        fs::remove_all(from, error);
        return false;
    }
    Log("Upload to " + staged.urlPath + " kept in the outbox as " + staged.name, status);
    ApplyBounds();
    return true;
}

void CUploadOutbox::Discard(const Entry& staged) {
    std::error_code error;
    fs::remove_all(EntryFolder(kUnfinishedPrefix + staged.name), error);
}

std::vector<std::string> CUploadOutbox::List() const {
    return NamesIn(m_folder, IsEntryName);
}

bool CUploadOutbox::Has(const std::string& name) const {
    std::error_code error;
    return fs::is_directory(EntryFolder(name), error);
}

bool CUploadOutbox::Load(const std::string& name, Entry& entry, std::string& why) const {
    std::string folder = EntryFolder(name);
    std::string meta;
    std::string fileName, size, digest;
    std::size_t at = std::string(kMagic).size();
    entry = Entry{};
    entry.name = name;
    if (!ReadWhole(folder + "/" + kMetaName, meta)) {
        why = "no readable record";
        return false;
    }
    if (meta.compare(0, at, kMagic) != 0 || !ReadValue(meta, at, "path", entry.urlPath) ||
        !ReadValue(meta, at, "uid", entry.uid) || !ReadValue(meta, at, "tid", entry.tid) ||
        !ReadValue(meta, at, "file", fileName) || !ReadValue(meta, at, "size", size) ||
        !ReadValue(meta, at, "digest", digest) || at != meta.size() || !IsPlainFileName(fileName) ||
        entry.urlPath.empty() || entry.urlPath.size() > 99 || entry.urlPath[0] != '/') {
        why = "record unreadable";
        return false;
    }
    entry.filePath = folder + "/" + fileName;
    std::uint64_t haveSize = 0;
    std::uint64_t haveDigest = 0;
    if (!DigestOf(entry.filePath, haveSize, haveDigest)) {
        why = "recording unreadable";
        return false;
    }
    if (std::to_string(haveSize) != size) {
        why = "recording has " + std::to_string(haveSize) + " bytes, not " + size;
        return false;
    }
    if (DigestText(haveDigest) != digest) {
        why = "recording changed";
        return false;
    }
    return true;
}

void CUploadOutbox::Remove(const std::string& name) {
    std::error_code error;
    fs::remove_all(EntryFolder(name), error);
}

void CUploadOutbox::MoveAside(const std::string& name, const std::string& why) {
    std::error_code error;
    fs::create_directories(DamagedFolder(), error);
    std::string target = name;
    if (IsUnfinishedName(target)) target.erase(0, std::string(kUnfinishedPrefix).size());
    fs::rename(EntryFolder(name), DamagedFolder() + "/" + target, error);
    // Out of the way at least, should the name be taken there or the rename fail.
    if (error) fs::remove_all(EntryFolder(name), error);
    Log("Outbox entry " + name + " " + why + ", moved aside", 0);
}

void CUploadOutbox::MoveAsideUnfinished() {
    for (const std::string& name : NamesIn(m_folder, IsUnfinishedName))
        MoveAside(name, "left unfinished");
}

void CUploadOutbox::ApplyBounds() {
    std::vector<std::string> names = List();
    std::int64_t now = m_nowMs();
    std::size_t left = names.size();
    std::error_code error;
    for (const std::string& name : names) {
        // Oldest first: once one is young enough and the count allows it, the rest stay too.
        bool tooOld = now - EntryTimeMs(name) > kMaxAgeMs;
        if (!tooOld && left <= kMaxEntries) break;
        fs::remove_all(EntryFolder(name), error);
        --left;
        Log("Outbox entry " + name + " dropped: " +
                (tooOld ? std::string("older than 14 days") : std::string("more than 50 waiting")),
            0);
    }
    std::vector<std::string> damaged = NamesIn(DamagedFolder(), IsAnyName);
    for (std::size_t i = 0; i + kMaxEntries < damaged.size(); ++i) {
        fs::remove_all(DamagedFolder() + "/" + damaged[i], error);
        Log("Damaged outbox entry " + damaged[i] + " dropped: more than 50 kept", 0);
    }
}

}  // namespace vexa
