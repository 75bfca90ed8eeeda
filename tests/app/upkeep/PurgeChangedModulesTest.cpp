#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <memory>
#include <string>

#include "app/ContentUpkeep.h"
#include "server/DownloadHelpers.h"
#include "tests/app/upkeep/UpkeepTestSupport.h"
#include "tests/fakes/CFakeContentSite.h"
#include "tests/fakes/CRecordingMessageBox.h"
#include "tests/server/download/TempFolder.h"

namespace vexa {
namespace {

namespace fs = std::filesystem;
using testing::CFakeContentSite;
using testing::CRecordingMessageBox;
using testing::CScopedEnv;
using testing::CTempFolder;
using testing::Listing;
using testing::ReadFile;
using testing::ReadRecords;
using testing::Records;
using testing::WriteFile;

const char kConfigFailed[] = "打开资源更新文件失败！";

std::string Config(const std::string& modules) {
    return "<?xml version=\"1.0\"?><config><title>lesson</title><DelMod>" + modules +
           "</DelMod></config>";
}

class PurgeChangedModulesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_env.Set("no_proxy", "127.0.0.1,localhost");
        m_env.Set("NO_PROXY", "127.0.0.1,localhost");
        ASSERT_TRUE(m_site.Start());
        m_data = m_root / "quinbery/lm";
        // The server creates its document root before the upkeep runs.
        CreateDirectoryTree(m_data.c_str());
    }
    bool Purge() { return PurgeChangedModules(m_data, m_site.BaseUrl()); }
    std::string Data(const std::string& name) const { return m_data + "/" + name; }
    void MakeModule(const std::string& name) {
        fs::create_directories(Data(name) + "/img");
        WriteFile(Data(name) + "/img/p.png", name);
        WriteFile(Data(name) + "/" + name + ".mp3", name);
    }
    void WriteRecord(const std::string& records) {
        WriteFile(Data("VerDel.Dat"), "<?xml version=\"1.0\"?><root>" + records + "</root>");
    }

    CScopedEnv m_env;
    CRecordingMessageBox m_boxes;
    CFakeContentSite m_site;
    CTempFolder m_root;
    std::string m_data;
};

TEST_F(PurgeChangedModulesTest, FirstStartWipesTheFreshFolderAndRecordsEveryListedModule) {
    m_site.SetFile("/vexa.xml", Config("<a>3</a><b>5</b><c></c>"));
    WriteFile(Data("INDEX.HTML"), "fetched by the server meanwhile");
    m_env.Set("VEXA_CONTENT_SITE", m_site.BaseUrl());

    EXPECT_TRUE(PurgeChangedModules(m_data));

    EXPECT_EQ(m_site.Paths(), std::vector<std::string>{"/vexa.xml"});
    EXPECT_TRUE(fs::is_directory(m_data));
    // The configuration went with the folder; only the new record is there.
    EXPECT_EQ(Listing(m_data), "VerDel.Dat");
    EXPECT_EQ(ReadRecords(Data("VerDel.Dat")), (Records{{"a", "3"}, {"b", "5"}, {"c", ""}}));
    EXPECT_TRUE(m_boxes.All().empty());
}

TEST_F(PurgeChangedModulesTest, OnlyNewAndChangedModulesLoseTheirFolders) {
    m_site.SetFile("/vexa.xml", Config("<a>3</a><b>5</b><c>1.0</c><d>7</d>"));
    WriteRecord("<z>1</z><a>3</a><b>4</b><d>7</d>");
    for (const char* m : {"a", "b", "c", "d", "z"}) MakeModule(m);
    WriteFile(Data("vexa.swf"), "movie");

    EXPECT_TRUE(Purge());

    EXPECT_EQ(Listing(m_data), "VerDel.Dat,a,d,vexa.swf,vexa.xml,z");
    EXPECT_EQ(ReadFile(Data("a/img/p.png")), "a");
    EXPECT_EQ(ReadFile(Data("vexa.xml")), Config("<a>3</a><b>5</b><c>1.0</c><d>7</d>"));
    // b changed in place, c appended; z, no longer listed, keeps its record and its folder.
    EXPECT_EQ(ReadRecords(Data("VerDel.Dat")),
              (Records{{"z", "1"}, {"a", "3"}, {"b", "5"}, {"d", "7"}, {"c", "1.0"}}));

    // A second start with nothing changed deletes nothing.
    MakeModule("b");
    MakeModule("c");
    EXPECT_TRUE(Purge());
    EXPECT_EQ(Listing(m_data), "VerDel.Dat,a,b,c,d,vexa.swf,vexa.xml,z");
    EXPECT_EQ(ReadRecords(Data("VerDel.Dat")),
              (Records{{"z", "1"}, {"a", "3"}, {"b", "5"}, {"d", "7"}, {"c", "1.0"}}));
}

TEST_F(PurgeChangedModulesTest, VersionsAreComparedByteForByte) {
    m_site.SetFile("/vexa.xml", Config("<a>v1 </a><b>第二版</b><c>第二版</c>"));
    WriteRecord("<a>v1</a><b>第二版</b><c>第一版</c>");
    for (const char* m : {"a", "b", "c"}) MakeModule(m);

    EXPECT_TRUE(Purge());

    EXPECT_EQ(Listing(m_data), "VerDel.Dat,b,vexa.xml");
    EXPECT_EQ(ReadRecords(Data("VerDel.Dat")),
              (Records{{"a", "v1 "}, {"b", "第二版"}, {"c", "第二版"}}));
}

TEST_F(PurgeChangedModulesTest, NoModuleListWipesTheFolderButKeepsTheOldRecords) {
    m_site.SetFile("/vexa.xml", "<?xml version=\"1.0\"?><config><other/></config>");
    WriteRecord("<a>3</a><b>4</b>");
    MakeModule("a");
    WriteFile(Data("vexa.swf"), "movie");

    EXPECT_TRUE(Purge());

    EXPECT_EQ(Listing(m_data), "VerDel.Dat");
    EXPECT_EQ(ReadRecords(Data("VerDel.Dat")), (Records{{"a", "3"}, {"b", "4"}}));
}

TEST_F(PurgeChangedModulesTest, UnreadableRecordCountsAsAFirstStart) {
    m_site.SetFile("/vexa.xml", Config("<a>3</a>"));
    WriteFile(Data("VerDel.Dat"), "<?xml version=\"1.0\"?><root><a>3</a><b>");
    MakeModule("a");

    EXPECT_TRUE(Purge());

    EXPECT_EQ(Listing(m_data), "VerDel.Dat");
    EXPECT_EQ(ReadRecords(Data("VerDel.Dat")), (Records{{"a", "3"}}));
}

TEST_F(PurgeChangedModulesTest, FailedDownloadFallsBackOnTheLocalCopy) {
    m_site.SetShortBody("/vexa.xml", "<config>", 4096);
    WriteFile(Data("vexa.xml"), Config("<a>2</a>"));
    WriteRecord("<a>1</a>");
    MakeModule("a");

    EXPECT_TRUE(Purge());

    EXPECT_EQ(ReadFile(Data("vexa.xml")), Config("<a>2</a>"));
    EXPECT_FALSE(fs::exists(Data("a")));
    EXPECT_EQ(ReadRecords(Data("VerDel.Dat")), (Records{{"a", "2"}}));
    EXPECT_TRUE(m_boxes.All().empty());
}

// The start-up's download on a worker: its outcome reaches the caller and the site's memory,
// and only a copy that opens counts as one to go on with.
TEST_F(PurgeChangedModulesTest, ConfigurationDownloadOnAWorkerTellsWhetherTheSiteAnswered) {
    auto outage = std::make_shared<CSiteOutage>();
    auto download = [&] {
        auto done = std::make_shared<std::promise<DownloadResult>>();
        std::future<DownloadResult> result = done->get_future();
        EXPECT_TRUE(StartConfigurationDownload(m_data, m_site.BaseUrl(), outage,
                                               [done](DownloadResult r) { done->set_value(r); }));
        return result.get();
    };
    m_site.SetFile("/vexa.xml", Config("<a>1</a>"));
    EXPECT_FALSE(HasLocalConfiguration(m_data));
    EXPECT_EQ(download(), DownloadResult::kStored);
    EXPECT_TRUE(HasLocalConfiguration(m_data));
    EXPECT_FALSE(fs::exists(Data("VerDel.Dat"))) << "the download alone purges nothing";

    m_site.Stop();
    EXPECT_EQ(download(), DownloadResult::kNoAnswer);
    EXPECT_TRUE(outage->IsDown());
    EXPECT_EQ(ReadFile(Data("vexa.xml")), Config("<a>1</a>"));
    EXPECT_TRUE(ApplyConfiguration(m_data));
    EXPECT_EQ(ReadRecords(Data("VerDel.Dat")), (Records{{"a", "1"}}));

    WriteFile(Data("vexa.xml"), "<config><DelMod>");
    EXPECT_FALSE(HasLocalConfiguration(m_data)) << "a broken copy is waited for like none";
}

TEST_F(PurgeChangedModulesTest, ConfigurationThatCannotBeOpenedStopsWithTheMessage) {
    m_site.SetNotFound("/vexa.xml");
    WriteRecord("<a>1</a>");
    MakeModule("a");

    EXPECT_FALSE(Purge());
    ASSERT_EQ(m_boxes.All().size(), 1u);
    EXPECT_EQ(m_boxes.All()[0].text, kConfigFailed);
    EXPECT_EQ(m_boxes.All()[0].caption, "");
    EXPECT_EQ(Listing(m_data), "VerDel.Dat,a");

    // A copy that is there but not well-formed fails the same way.
    m_boxes.Clear();
    WriteFile(Data("vexa.xml"), "<config><DelMod>");
    EXPECT_FALSE(Purge());
    EXPECT_EQ(m_boxes.Texts(), std::vector<std::string>{kConfigFailed});
    EXPECT_EQ(ReadRecords(Data("VerDel.Dat")), (Records{{"a", "1"}}));
    EXPECT_TRUE(fs::exists(Data("a/img/p.png")));

    // Without the folder the server would have made, nothing can be fetched either.
    m_boxes.Clear();
    m_site.SetFile("/vexa.xml", Config("<a>2</a>"));
    EXPECT_FALSE(PurgeChangedModules(m_root / "missing", m_site.BaseUrl()));
    EXPECT_EQ(m_boxes.Texts(), std::vector<std::string>{kConfigFailed});
}

}  // namespace
}  // namespace vexa
