// Runs the start-up purge on an arbitrary configuration document "vexa.xml" and module record
// "VerDel.Dat" in a data folder that holds a few modules and symbolic links pointing out of it.
// Beside the data folder lie a sentinel file and a folder the links point to: whatever the two
// documents say, nothing outside the data folder is deleted, changed or added.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <system_error>

#include "app/ContentUpkeep.h"
#include "fuzz/FuzzSupport.h"
#include "platform/core/MessageBox.h"

namespace {

namespace fs = std::filesystem;
using vexa::fuzz::Require;

constexpr char kSentinelText[] = "keep me";

class CSilentBoxes : public vexa::platform::IMessageBox {
  public:
    void Show(const std::string&, const std::string&) override {}
};

void WriteFile(const fs::path& path, const std::string& body) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << body;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Everything below top except the data folder: each entry's kind, size and modification time,
// read without following links.
std::map<std::string, std::string> Outside(const fs::path& top, const fs::path& data) {
    std::map<std::string, std::string> seen;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(top, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path() == data) {
            it.disable_recursion_pending();
            continue;
        }
        struct stat st;
        Require(lstat(it->path().c_str(), &st) == 0, "outside entry");
        seen[it->path().string()] = std::to_string(st.st_mode) + "/" + std::to_string(st.st_size) +
                                    "/" + std::to_string(st.st_mtim.tv_sec) + "." +
                                    std::to_string(st.st_mtim.tv_nsec);
    }
    return seen;
}

struct SScene {
    fs::path top;
    fs::path data;
    std::map<std::string, std::string> outside;
};

const SScene& Scene() {
    static const SScene scene = [] {
        static CSilentBoxes boxes;
        vexa::platform::SetMessageBoxService(&boxes);
        SScene s;
        s.top = vexa::fuzz::ScratchFolder();
        s.data = s.top / "lm";
        fs::create_directories(s.top / "outside" / "lesson1");
        WriteFile(s.top / "sentinel", kSentinelText);
        WriteFile(s.top / "outside" / "lesson1" / "keep.mp3", kSentinelText);
        s.outside = Outside(s.top, s.data);
        return s;
    }();
    return scene;
}

// The data folder as a previous run might have left it, with links out of it at the places a
// module name or a deletion could reach.
void FillDataFolder(const SScene& s, const std::string& config, const std::string* record) {
    std::error_code ec;
    fs::remove_all(s.data, ec);
    fs::create_directories(s.data / "lesson1");
    fs::create_directories(s.data / "lesson2" / "deep");
    WriteFile(s.data / "lesson1" / "word.mp3", "ID3");
    WriteFile(s.data / "lesson2" / "deep" / "pic.gif", "GIF89a");
    WriteFile(s.data / "vexa.swf", "FWS");
    fs::create_directory_symlink(s.top / "outside", s.data / "linked", ec);
    fs::create_directory_symlink(s.top / "outside" / "lesson1", s.data / "lesson1" / "up", ec);
    fs::create_symlink(s.top / "sentinel", s.data / "lesson2" / "sentinel", ec);
    WriteFile(s.data / "vexa.xml", config);
    if (record != nullptr) WriteFile(s.data / "VerDel.Dat", *record);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const SScene& s = Scene();
    // The configuration document, then after the first NUL byte (when there is one) the record.
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = bytes.find('\0');
    const std::string config = bytes.substr(0, nul);
    const std::string record = nul == std::string::npos ? std::string() : bytes.substr(nul + 1);
    FillDataFolder(s, config, nul == std::string::npos ? nullptr : &record);

    // A scheme the downloads refuse at once: the local copy of "vexa.xml" is used, as after a
    // failed download.
    const bool goOn = vexa::PurgeChangedModules(s.data.string(), "unreachable://site/");

    Require(ReadFile(s.top / "sentinel") == kSentinelText, "sentinel kept");
    Require(Outside(s.top, s.data) == s.outside, "nothing outside the data folder changed");
    std::error_code ec;
    if (goOn) {
        Require(fs::is_directory(s.data, ec), "data folder re-created");
        Require(fs::is_regular_file(s.data / "VerDel.Dat", ec), "record saved");
    } else {
        Require(fs::exists(s.data / "vexa.swf", ec), "nothing deleted without a configuration");
    }
    return 0;
}
