// The upload outbox: copies of upload attempts that got no 2xx answer, kept so that they can be
// sent again later exactly as they first went out. One folder per entry, named so that names
// sort oldest first; a staged entry becomes a waiting one by a single rename.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vexa {

class CUploadOutbox {
  public:
    static constexpr std::size_t kMaxEntries = 50;
    static constexpr std::int64_t kMaxAgeMs = 14LL * 24 * 60 * 60 * 1000;

    struct Entry {
        std::string name;     // the entry's folder name
        std::string urlPath;  // the endpoint the attempt went to
        std::string uid;
        std::string tid;
        std::string filePath;  // the kept recording; its last component is the file name sent
    };

    enum class StageResult { Staged, NoFile, Failed };

    // The folder need not exist; it is made when the first entry is staged.
    explicit CUploadOutbox(std::string folder);

    // "outbox" in the per-user state folder.
    static std::string DefaultFolder();

    // Copies the attempt, recording included, into an unfinished entry before it is sent, so
    // that what is kept is what went out even when a new recording replaces the file meanwhile.
    // NoFile when there is no recording to read (such an attempt is never kept).
    StageResult Stage(const std::string& urlPath, const std::string& uid, const std::string& tid,
                      const std::string& recording, Entry& staged);
    // Turns a staged entry into a waiting one, then applies the bounds. status is the answer's
    // HTTP status (0 for none), for the run log.
    bool Keep(const Entry& staged, int status);
    // Forgets a staged entry whose attempt was answered.
    void Discard(const Entry& staged);

    // Names of the waiting entries, oldest first.
    std::vector<std::string> List() const;
    // False once the entry has gone (sent, dropped or moved aside).
    bool Has(const std::string& name) const;
    // Reads a waiting entry and checks its recording against the size and digest it was kept
    // with. False when it is damaged; why then says how.
    bool Load(const std::string& name, Entry& entry, std::string& why) const;
    void Remove(const std::string& name);
    // Moves an entry into "damaged" in the outbox, out of the way of every later round.
    void MoveAside(const std::string& name, const std::string& why);

    // Unfinished entries that an interrupted run left are moved aside.
    void MoveAsideUnfinished();
    // Entries older than kMaxAgeMs go, then the oldest beyond kMaxEntries; the same count
    // holds for the entries moved aside.
    void ApplyBounds();

    // Milliseconds since the epoch; the system clock unless replaced.
    void SetClock(std::function<std::int64_t()> nowMs) { m_nowMs = std::move(nowMs); }

  private:
    std::string EntryFolder(const std::string& name) const;
    std::string DamagedFolder() const;

    std::string m_folder;
    std::function<std::int64_t()> m_nowMs;
};

}  // namespace vexa
