// Upkeep of the local content: modules whose version changed on the content site are purged at
// start-up, the data folder is wiped on the movie's request, and the MP3 encoder library is
// fetched into the per-user library folder when the program has none.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "lame_enc/EncoderLibraryDigest.h"
#include "server/CSiteOutage.h"
#include "server/DownloadHelpers.h"

namespace vexa {

// How long the start-up waits for the configuration download when an earlier copy is there;
// past it the start-up goes on with that copy, as after a failed download.
inline constexpr std::uint32_t kConfigDownloadWaitMs = 5000;

// The encoder library's file name in the program's library folders and on the content site.
inline constexpr char kEncoderLibraryName[] = "liblame_enc.so";

// Start-up step, on the dialog's thread, after the server has created dataFolder: downloads
// "vexa.xml" from the content site into dataFolder (an earlier copy stays when that fails),
// compares its module versions (//config/DelMod) with the record "VerDel.Dat", deletes the
// folder of every new or changed module (the whole data folder on a first start or when the
// document lists no modules), re-creates dataFolder and saves the record. Returns false, after
// the message box "打开资源更新文件失败！", when the configuration document cannot be opened:
// the start-up then stops. siteBaseUrl ends with '/'; the one-argument form uses
// ContentSiteBaseUrl().
bool PurgeChangedModules(const std::string& dataFolder);
bool PurgeChangedModules(const std::string& dataFolder, const std::string& siteBaseUrl);

// The two halves of PurgeChangedModules, for a start-up that keeps its window answering while
// the download runs. DownloadConfiguration fetches "vexa.xml" into dataFolder on the calling
// thread (atomically: a reader sees the old or the new document, never a part).
DownloadResult DownloadConfiguration(const std::string& dataFolder, const std::string& siteBaseUrl);
// Runs DownloadConfiguration on a detached worker, notes its outcome in outage (when given), then
// calls onFinished with it on that worker. False when no thread could be started.
bool StartConfigurationDownload(const std::string& dataFolder, const std::string& siteBaseUrl,
                                std::shared_ptr<CSiteOutage> outage,
                                std::function<void(DownloadResult)> onFinished);
// True when dataFolder holds a configuration document from an earlier run.
bool HasLocalConfiguration(const std::string& dataFolder);
// Everything of PurgeChangedModules after the download, with the same result and message.
bool ApplyConfiguration(const std::string& dataFolder);

// Deletes folder with everything below it and reports whether the folder itself went. What
// cannot be deleted stays, and so do the folders above it. A symbolic link is deleted as a
// link, never followed, so nothing outside folder is touched.
bool DeleteFolderTree(const std::string& folder);

// The movie's "LocalFileClear": the data folder goes with everything in it. Nothing re-creates
// it until the next start.
void LocalFileClear(const std::string& dataFolder);

// The encoder download worker: fetches the content site's kEncoderLibraryName into the per-user
// library folder (platform::UserLibraryFolder(), created when missing) and puts it in place only
// when its SHA-256 is kEncoderLibrarySha256; a library with another digest is discarded and the
// run log says so. The parameter is not read. Returns 1.
unsigned EncoderDownloadThreadProc(void* param);
// The same with the digest given; true when a library with that digest is now in place.
bool FetchEncoderLibrary(const std::string& expectedSha256);

// Start-up's last step: when neither g_exeFolder nor its ../lib/vexa holds kEncoderLibraryName
// and the per-user library folder holds no copy with the expected digest, starts a detached
// worker running FetchEncoderLibrary and returns true at once; onFinished, when given, runs last
// on that worker. Returns false when the library is there, when the executable folder is
// unknown (so is whether the library was installed), or when no thread could be started.
bool StartEncoderDownloadIfMissing(std::function<void()> onFinished = {},
                                   std::string expectedSha256 = kEncoderLibrarySha256);

}  // namespace vexa
