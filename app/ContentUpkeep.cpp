#include "app/ContentUpkeep.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "app/AppFolders.h"
#include "platform/core/MessageBox.h"
#include "platform/dynlib/DynamicLibrary.h"
#include "platform/dynlib/FileDigest.h"
#include "server/CLog.h"
#include "server/ContentSite.h"
#include "server/DownloadHelpers.h"
#include "xml/Tavix.h"

namespace vexa {

namespace fs = std::filesystem;

namespace {

constexpr char kConfigName[] = "vexa.xml";
constexpr char kRecordName[] = "VerDel.Dat";
constexpr char kFreshRecord[] = "<?xml version=\"1.0\"?><root></root>";
constexpr char kModuleList[] = "//config/DelMod";
constexpr char kConfigOpenFailed[] = "打开资源更新文件失败！";

// Module names come from a downloaded document; one that could name something other than a
// sub-folder of the data folder is never used as a path.
bool IsPlainFolderName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string::npos;
}

void DeleteModuleFolder(const std::string& dataFolder, const std::string& module) {
    if (IsPlainFolderName(module)) DeleteFolderTree(dataFolder + "/" + module);
}

void AppendRecord(Tavix::CXmlDocument& record, const std::string& module,
                  const std::string& version) {
    Tavix::CXmlNodePtr child = record.GetRoot()->NewChild(module);
    child->SetText(version.c_str());
}

}  // namespace

bool PurgeChangedModules(const std::string& dataFolder) {
    return PurgeChangedModules(dataFolder, ContentSiteBaseUrl());
}

bool PurgeChangedModules(const std::string& dataFolder, const std::string& siteBaseUrl) {
    DownloadConfiguration(dataFolder, siteBaseUrl);
    return ApplyConfiguration(dataFolder);
}

DownloadResult DownloadConfiguration(const std::string& dataFolder,
                                     const std::string& siteBaseUrl) {
    return DownloadFile(siteBaseUrl + kConfigName, dataFolder + "/" + kConfigName);
}

bool StartConfigurationDownload(const std::string& dataFolder, const std::string& siteBaseUrl,
                                std::shared_ptr<CSiteOutage> outage,
                                std::function<void(DownloadResult)> onFinished) {
    try {
        // The worker owns copies of everything it uses: the start-up may go on, and the program
        // may even end, before the site answers.
        std::thread([dataFolder, siteBaseUrl, outage = std::move(outage),
                     done = std::move(onFinished)] {
            DownloadResult result = DownloadConfiguration(dataFolder, siteBaseUrl);
            if (outage) outage->Note(result);
            if (done) done(result);
        }).detach();
        return true;
    } catch (...) {
        return false;
    }
}

bool HasLocalConfiguration(const std::string& dataFolder) {
    // Only a copy that opens is worth going on with; a broken one is waited for like none.
    Tavix::CXmlDocument config;
    return config.Open((dataFolder + "/" + kConfigName).c_str());
}

bool ApplyConfiguration(const std::string& dataFolder) {
    const std::string configPath = dataFolder + "/" + kConfigName;
    const std::string recordPath = dataFolder + "/" + kRecordName;

    Tavix::CXmlDocument config;
    if (!config.Open(configPath.c_str())) {
        platform::ShowMessageBox(kConfigOpenFailed);
        return false;
    }

    Tavix::CXmlDocument record;
    Tavix::CXmlNodePtr moduleList = config.SelectSingleNode(kModuleList);
    if (record.Open(recordPath.c_str())) {
        if (moduleList->IsNull()) {
            // No list means nothing local can be trusted; the records read stay and are saved.
            DeleteFolderTree(dataFolder);
        } else {
            Tavix::CXmlNodesPtr modules = moduleList->GetChildren();
            for (std::int32_t i = 0; i < modules->GetCount(); ++i) {
                Tavix::CXmlNodePtr module = modules->GetItem(i);
                const std::string name = module->GetName();
                const std::string version = module->GetValue();
                Tavix::CXmlNodePtr seen = record.SelectSingleNode(("//root/" + name).c_str());
                if (seen->IsNull()) {
                    AppendRecord(record, name, version);
                    DeleteModuleFolder(dataFolder, name);
                } else if (seen->GetValue() != version) {
                    seen->SetText(version.c_str());
                    DeleteModuleFolder(dataFolder, name);
                }
            }
        }
    } else {
        // A first start, or a record that cannot be read: every listed module is recorded and
        // nothing of the old content is kept.
        record.LoadXml(kFreshRecord);
        Tavix::CXmlNodesPtr modules = moduleList->GetChildren();
        DeleteFolderTree(dataFolder);
        for (std::int32_t i = 0; i < modules->GetCount(); ++i) {
            Tavix::CXmlNodePtr module = modules->GetItem(i);
            AppendRecord(record, module->GetName(), module->GetValue());
        }
    }

    CreateDirectoryTree(dataFolder.c_str());
    // Save writes a temporary file and renames it over the record, so an interrupted save never
    // leaves a truncated record that would wipe the data folder at the next start.
    record.Save(recordPath.c_str());
    return true;
}

bool DeleteFolderTree(const std::string& folder) {
    std::error_code ec;
    const fs::path top(folder);
    const fs::file_status status = fs::symlink_status(top, ec);
    if (ec) return false;
    if (fs::is_symlink(status)) return fs::remove(top, ec);
    if (!fs::is_directory(status)) return false;

    // The listing is taken first: deleting while a directory is being read may skip entries.
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(top, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(*it);
    for (const fs::directory_entry& entry : entries) {
        std::error_code entryEc;
        const fs::file_status entryStatus = entry.symlink_status(entryEc);
        if (!entryEc && fs::is_directory(entryStatus)) {
            DeleteFolderTree(entry.path().string());
        } else {
            fs::remove(entry.path(), entryEc);
        }
    }
    return fs::remove(top, ec);
}

void LocalFileClear(const std::string& dataFolder) {
    DeleteFolderTree(dataFolder);
}

unsigned EncoderDownloadThreadProc(void* /*param*/) {
    FetchEncoderLibrary(kEncoderLibrarySha256);
    return 1;
}

bool FetchEncoderLibrary(const std::string& expectedSha256) {
    const std::string folder = platform::UserLibraryFolder();
    if (folder.empty()) return false;
    CreateDirectoryTree(folder.c_str());
    const std::string target = folder + "/" + kEncoderLibraryName;
    // The library comes in under a name of its own, so the loader never meets a copy under the
    // final name that has not been checked. (Two programs fetching at the same instant could
    // share it; whatever lands is checked again when it is loaded.)
    const auto stamp =
        std::hash<std::thread::id>{}(std::this_thread::get_id()) ^
        static_cast<std::size_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    const std::string fetched =
        folder + "/." + kEncoderLibraryName + "." + std::to_string(stamp) + ".fetched";
    DownloadFile(ContentSiteBaseUrl() + kEncoderLibraryName, fetched);
    if (!FileExists(fetched.c_str())) return false;  // the site did not give it: silent
    const std::string digest = platform::FileSha256(fetched);
    std::error_code ec;
    if (expectedSha256.empty() || digest != expectedSha256) {
        // Anyone on the plain-HTTP path could have sent this; running it would run their code.
        fs::remove(fetched, ec);
        const std::string why = std::string(
                                    "The encoder library from the content site was "
                                    "discarded: its SHA-256 is ") +
                                (digest.empty() ? "unreadable" : digest.c_str()) +
                                ", this program was built with " + expectedSha256;
        CLog::WriteLogLine(why.c_str(), "EncoderDownload", 0);
        return false;
    }
    fs::rename(fetched, target, ec);
    if (ec) {
        fs::remove(fetched, ec);
        return false;
    }
    return true;
}

bool StartEncoderDownloadIfMissing(std::function<void()> onFinished, std::string expectedSha256) {
    if (g_exeFolder.empty()) return false;
    for (const std::string& folder : platform::InstalledLibraryFolders(g_exeFolder))
        if (FileExists((folder + "/" + kEncoderLibraryName).c_str())) return false;
    const std::string userFolder = platform::UserLibraryFolder();
    if (userFolder.empty()) return false;
    // A copy of another build (an older program's, or a damaged one) is fetched again.
    if (platform::FileSha256(userFolder + "/" + kEncoderLibraryName) == expectedSha256)
        return false;
    try {
        std::thread([done = std::move(onFinished), digest = std::move(expectedSha256)] {
            FetchEncoderLibrary(digest);
            if (done) done();
        }).detach();
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace vexa
