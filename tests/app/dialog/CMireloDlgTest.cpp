// The main dialog with a scripted window and player: start-up order and its failure path,
// both layouts and their toggle, keys, the two ways to end, and the upload-done call.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BuildConfig.h"
#include "app/CMireloDlg.h"
#include "app/ContentUpkeep.h"
#include "platform/audio/IWaveDevices.h"
#include "tests/fakes/CFakeContentSite.h"
#include "tests/fakes/CFakeMixer.h"
#include "tests/fakes/CRecordingMessageBox.h"
#include "tests/fakes/CSimWaveDevice.h"
#include "tests/fakes/CTestUiLoop.h"
#include "tests/fakes/CUploadSinkFake.h"

namespace vexa {
namespace {

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const Rect& o) const {
        return x == o.x && y == o.y && width == o.width && height == o.height;
    }
};

std::ostream& operator<<(std::ostream& out, const Rect& r) {
    return out << r.x << "," << r.y << " " << r.width << "x" << r.height;
}

class CFakeMovieView : public platform::IMovieView {
  public:
    void SetCallHandler(CallHandler handler) override { m_handler = std::move(handler); }
    void PreparePlayer(const std::string& origin) override { prepared.push_back(origin); }
    void LoadMovie(const std::string& url) override { loads.push_back(url); }
    void Play() override { ++plays; }
    void SetReturnValue(const std::string& value) override {
        if (m_inCall) answer = value;
    }
    std::string CallFunction(const std::string& request) override {
        calls.push_back(request);
        return "<string>ok</string>";
    }
    void Place(int x, int y, int width, int height) override { place = {x, y, width, height}; }
    void Show() override { shown = true; }
    void Focus() override { focused = true; }

    // The movie calls the host: returns the answer, "" for none.
    std::string MovieCalls(const std::string& request) {
        answer.clear();
        m_inCall = true;
        if (m_handler) m_handler(request);
        m_inCall = false;
        return answer;
    }

    std::vector<std::string> prepared, loads, calls;
    int plays = 0;
    Rect place;
    bool shown = false, focused = false;
    std::string answer;

  private:
    CallHandler m_handler;
    bool m_inCall = false;
};

class CFakeDialogWindow : public platform::IDialogWindow {
  public:
    void SetEvents(platform::IDialogWindowEvents* e) override { events = e; }
    void SetTitle(const std::string& t) override { title = t; }
    void SetIconName(const std::string& n) override { icon = n; }
    void SetLoadingText(const std::string& t) override { loadingText = t; }
    void ShowLoadingText(bool v) override { loadingShown = v; }
    platform::ScreenMetrics GetScreenMetrics() override { return screen; }
    void SetCaption(bool on) override { caption = on; }
    // The outer corner and the client size.
    void MoveWindow(int x, int y, int w, int h) override { window = {x, y, w, h}; }
    void* ChildContainer() override { return nullptr; }
    int RunModal() override {
        if (script) script();
        return ended ? result : -1;
    }
    void EndModal(int r) override {
        ended = true;
        result = r;
    }
    void ShowInfoBox(const std::string& t, const std::vector<std::string>& lines) override {
        infoTitle = t;
        infoLines = lines;
    }

    platform::IDialogWindowEvents* events = nullptr;
    platform::ScreenMetrics screen{1024, 768, 0, 0};
    std::function<void()> script;
    std::string title, icon, loadingText, infoTitle;
    std::vector<std::string> infoLines;
    bool loadingShown = false, caption = false, ended = false;
    int result = 0;
    Rect window;
};

bool PortAccepts(int port) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

class DialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/vexa-dlg-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        setenv("APPDATA", (m_dir + "/appdata").c_str(), 1);
        setenv("XDG_STATE_HOME", (m_dir + "/state").c_str(), 1);
        m_site.SetFile("/vexa.xml",
                       "<?xml version=\"1.0\"?><config><DelMod><a>1</a></DelMod></config>");
        m_site.SetFile("/vexa.swf", "FWS");
        ASSERT_TRUE(m_site.Start());
        setenv("VEXA_CONTENT_SITE", m_site.BaseUrl().c_str(), 1);
        g_windowed = 0;
        m_platform.createWindow = [this] {
            auto w = std::make_unique<CFakeDialogWindow>();
            m_window = w.get();
            w->script = m_script;
            return w;
        };
        m_platform.createMovieView = [this](platform::IDialogWindow&) {
            auto v = std::make_unique<CFakeMovieView>();
            m_view = v.get();
            return v;
        };
    }
    void TearDown() override {
        unsetenv("VEXA_CONTENT_SITE");
        m_site.Stop();
        std::string cmd = "rm -rf '" + m_dir + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }

    enum class Start { kNone, kTick, kDone };
    // Runs the dialog; script runs inside its modal run: after the start-up tick (kTick), or
    // once the start-up has also had its configuration download (kDone).
    int RunDialog(const std::function<void(CMireloDlg&)>& script, Start start = Start::kDone) {
        CMireloDlg dlg(m_platform);
        dlg.SetTrace([this](const std::string& line) { m_trace.push_back(line); });
        m_script = [&, script, start] {
            if (start != Start::kNone) m_loop.RunFor(100);
            for (int i = 0; start == Start::kDone && dlg.IsStartupPending() && i < 100; ++i)
                m_loop.WaitForPosts(100);
            script(dlg);
        };
        return dlg.DoModal();
    }
    std::string DataFile(const std::string& name) const {
        return m_dir + "/appdata/quinbery/lm/" + name;
    }
    // A data folder from an earlier run: the configuration, the record and the movie.
    void WriteEarlierRun(const std::string& config) {
        std::string cmd = "mkdir -p '" + m_dir + "/appdata/quinbery/lm'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        WriteText(DataFile("vexa.xml"), config);
        WriteText(DataFile("VerDel.Dat"), "<?xml version=\"1.0\"?><root><a>1</a></root>");
        WriteText(DataFile("vexa.swf"), "FWS local");
    }
    static void WriteText(const std::string& path, const std::string& text) {
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr) << path;
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    static std::string ReadText(const std::string& path) {
        std::string text;
        if (FILE* f = std::fopen(path.c_str(), "rb")) {
            char buf[4096];
            for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
            std::fclose(f);
        }
        return text;
    }
    bool Traced(const std::string& start) const {
        return std::any_of(m_trace.begin(), m_trace.end(),
                           [&](const std::string& l) { return l.rfind(start, 0) == 0; });
    }

    testing::CTestUiLoop m_loop;
    testing::CRecordingMessageBox m_boxes;
    testing::CFakeContentSite m_site;
    CMireloDlg::Platform m_platform;
    std::function<void()> m_script;
    CFakeDialogWindow* m_window = nullptr;
    CFakeMovieView* m_view = nullptr;
    std::vector<std::string> m_trace;
    std::string m_dir;
};

TEST_F(DialogTest, StartsUpOnTheFirstTickAndTakesTheWindowedLayout) {
    int port = 0;
    RunDialog([&](CMireloDlg& dlg) {
        // Before the tick the window only showed the loading text; now the movie plays from
        // the server's own port.
        port = dlg.Server().GetPort();
        ASSERT_GE(port, 9898);
        ASSERT_EQ(m_view->loads.size(), 1u);
        EXPECT_EQ(m_view->loads[0], "http://127.0.0.1:" + std::to_string(port) + "/vexa.swf");
        // The player was started on the server's origin before the upkeep.
        ASSERT_FALSE(m_view->prepared.empty());
        EXPECT_EQ(m_view->prepared.back(), "http://127.0.0.1:" + std::to_string(port) + "/");
        EXPECT_EQ(m_view->plays, 1);
        EXPECT_FALSE(m_window->loadingShown);
        EXPECT_EQ(m_window->loadingText, kLoadingText);
        EXPECT_EQ(m_site.CountOf("/vexa.xml"), 1u);
        EXPECT_EQ(dlg.DataFolder(), m_dir + "/appdata/quinbery/lm");
        // 1024 x 768: the framed window's outer corner at (24, 68) by its 976 x 632, its client
        // area the movie's 970 x 607, all of it the movie.
        EXPECT_EQ(g_windowed, 1);
        EXPECT_TRUE(m_window->caption);
        EXPECT_EQ(m_window->window, (Rect{24, 68, 970, 607}));
        EXPECT_EQ(m_view->place, (Rect{0, 0, 970, 607}));
        EXPECT_TRUE(m_view->focused);
        EXPECT_TRUE(PortAccepts(port));
        EXPECT_EQ(m_window->icon, "vexa");
        EXPECT_NE(m_window->title.find(VEXA_PRODUCT_NAME), std::string::npos);
        // The tick runs once.
        m_loop.RunFor(1000);
        EXPECT_EQ(m_view->loads.size(), 1u);
        m_view->MovieCalls("<invoke name=\"CloseWinExe\" returntype=\"xml\"><arguments/></invoke>");
    });
    EXPECT_FALSE(PortAccepts(port)) << "the server outlived the dialog";
    std::vector<std::string> expected = {"startup: folders",
                                         "startup: server on port",
                                         "startup: downloading the configuration",
                                         "startup: configuration downloaded",
                                         "startup: content upkeep done",
                                         "startup: loading text hidden",
                                         "startup: movie loaded"};
    size_t at = 0;
    for (const std::string& line : m_trace)
        if (at < expected.size() && line.rfind(expected[at], 0) == 0) ++at;
    EXPECT_EQ(at, expected.size()) << "start-up steps out of order";
}

// A site that accepts and never answers, with the data folder of an earlier run: the window
// answers throughout, and after 5 s the start-up goes on with the local copy.
TEST_F(DialogTest, ASilentSiteHoldsTheStartUpFiveSecondsAtMostWhenALocalCopyExists) {
    WriteEarlierRun("<?xml version=\"1.0\"?><config><DelMod><a>1</a></DelMod></config>");
    m_site.SetSilent(true);
    RunDialog(
        [&](CMireloDlg& dlg) {
            EXPECT_TRUE(dlg.IsStartupPending());
            EXPECT_FALSE(m_view->prepared.empty()) << "the player waits for nothing";
            ASSERT_TRUE(m_site.WaitForRequests(1, 5000));
            m_loop.RunFor(kConfigDownloadWaitMs - 1);
            EXPECT_TRUE(m_view->loads.empty());
            EXPECT_TRUE(m_window->loadingShown);
            EXPECT_FALSE(dlg.Server().SiteOutage()->IsDown());
            m_loop.RunFor(1);
            EXPECT_FALSE(dlg.IsStartupPending());
            EXPECT_EQ(m_view->loads.size(), 1u);
            EXPECT_FALSE(m_window->loadingShown);
            EXPECT_EQ(m_window->window, (Rect{24, 68, 970, 607}));
            EXPECT_TRUE(dlg.Server().SiteOutage()->IsDown())
                << "the movie's requests must not wait on the silent site as well";
            EXPECT_EQ(m_site.CountOf("/vexa.xml"), 1u);
            m_window->events->OnCloseRequest();
        },
        Start::kTick);
    EXPECT_TRUE(Traced("startup: no configuration in time"));
    EXPECT_TRUE(m_boxes.All().empty());
}

// Without a local copy there is nothing to go on with: the download's own time-outs stand,
// and the close box ends the program meanwhile without waiting for the worker.
TEST_F(DialogTest, TheCloseBoxAnswersWhileTheConfigurationDownloadRuns) {
    m_site.SetSilent(true);
    int port = 0;
    int result = RunDialog(
        [&](CMireloDlg& dlg) {
            port = dlg.Server().GetPort();
            m_loop.RunFor(60000);
            EXPECT_TRUE(dlg.IsStartupPending());
            EXPECT_TRUE(m_view->loads.empty());
            m_window->events->OnCloseRequest();
            EXPECT_FALSE(PortAccepts(port));
        },
        Start::kTick);
    EXPECT_EQ(result, IDCANCEL);
    // The worker's late end reaches no dialog.
    m_site.SetSilent(false);
    for (int i = 0; i < 50 && ReadText(DataFile("vexa.xml")).empty(); ++i) m_loop.WaitForPosts(100);
    EXPECT_FALSE(ReadText(DataFile("vexa.xml")).empty());
    m_loop.WaitForPosts(200);
    EXPECT_FALSE(Traced("startup: content upkeep"));
}

// A download that arrives after the start-up went on replaces the local copy for the next
// start and changes nothing in this one.
TEST_F(DialogTest, ALateConfigurationIsKeptForTheNextStart) {
    WriteEarlierRun("<?xml version=\"1.0\"?><config><DelMod><a>1</a></DelMod></config>");
    const std::string fresh = "<?xml version=\"1.0\"?><config><DelMod><a>2</a></DelMod></config>";
    m_site.SetFile("/vexa.xml", fresh);
    m_site.SetDelay("/vexa.xml", 1500);
    RunDialog(
        [&](CMireloDlg& dlg) {
            m_loop.RunFor(kConfigDownloadWaitMs);
            EXPECT_FALSE(dlg.IsStartupPending());
            EXPECT_EQ(m_view->loads.size(), 1u);
            for (int i = 0; i < 50 && ReadText(DataFile("vexa.xml")) != fresh; ++i)
                m_loop.WaitForPosts(100);
            EXPECT_EQ(ReadText(DataFile("vexa.xml")), fresh);
            EXPECT_FALSE(dlg.Server().SiteOutage()->IsDown()) << "the site did answer";
            EXPECT_EQ(m_view->loads.size(), 1u);
            m_window->EndModal(IDOK);
        },
        Start::kTick);
    // This start kept the module as the old copy listed it.
    EXPECT_NE(ReadText(DataFile("VerDel.Dat")).find("<a>1</a>"), std::string::npos);
}

TEST_F(DialogTest, GetWinSizeTogglesFullScreenAndBack) {
    RunDialog([&](CMireloDlg&) {
        const std::string toggle =
            "<invoke name=\"getWinSize\" returntype=\"xml\"><arguments/></invoke>";
        // Each layout gives the keys back to the movie.
        m_view->focused = false;
        EXPECT_EQ(m_view->MovieCalls(toggle), "");
        EXPECT_EQ(g_windowed, 0);
        EXPECT_FALSE(m_window->caption);
        EXPECT_EQ(m_window->window, (Rect{0, 0, 1024, 768}));
        EXPECT_EQ(m_view->place, (Rect{0, 0, 1024, 768}));
        EXPECT_TRUE(m_view->focused);
        m_view->focused = false;
        m_view->MovieCalls(toggle);
        EXPECT_EQ(g_windowed, 1);
        EXPECT_TRUE(m_window->caption);
        EXPECT_EQ(m_window->window, (Rect{24, 68, 970, 607}));
        EXPECT_EQ(m_view->place, (Rect{0, 0, 970, 607}));
        EXPECT_TRUE(m_view->focused);
        m_window->EndModal(IDOK);
    });
}

TEST_F(DialogTest, FullScreenPutsTheFrameOfABorderedScreenPastItsEdges) {
    RunDialog([&](CMireloDlg& dlg) {
        // What stays of the frame without the caption lies off screen; the client area and the
        // movie are the whole screen.
        m_window->screen = {1280, 1024, 4, 4};
        dlg.SetWindowMode(true);
        EXPECT_EQ(m_window->window, (Rect{-4, -4, 1280, 1024}));
        EXPECT_EQ(m_view->place, (Rect{0, 0, 1280, 1024}));
        dlg.SetWindowMode(false);
        EXPECT_EQ(m_window->window, (Rect{152, 196, 970, 607}));
        m_window->EndModal(IDOK);
    });
}

TEST_F(DialogTest, WithoutTheConfigurationTheMovieIsNeverLoaded) {
    m_site.SetNotFound("/vexa.xml");
    RunDialog([&](CMireloDlg&) {
        EXPECT_TRUE(m_view->loads.empty());
        EXPECT_TRUE(m_window->loadingShown);
        // The window still gets its windowed layout and stays until it is closed.
        EXPECT_EQ(m_window->window, (Rect{24, 68, 970, 607}));
        m_window->events->OnCloseRequest();
    });
    std::vector<std::string> texts = m_boxes.Texts();
    EXPECT_NE(std::find(texts.begin(), texts.end(), "打开资源更新文件失败！"), texts.end());
}

TEST_F(DialogTest, TheCloseBoxStopsTheServerAndCancels) {
    int result = RunDialog([&](CMireloDlg& dlg) {
        int port = dlg.Server().GetPort();
        ASSERT_TRUE(PortAccepts(port));
        m_window->events->OnCloseRequest();
        EXPECT_FALSE(PortAccepts(port)) << "closing must stop the server first";
    });
    EXPECT_EQ(result, IDCANCEL);
}

TEST_F(DialogTest, CloseWinExeEndsWithOk) {
    int result = RunDialog([&](CMireloDlg&) {
        m_view->MovieCalls("<invoke name=\"CloseWinExe\" returntype=\"xml\"><arguments/></invoke>");
    });
    EXPECT_EQ(result, IDOK);
}

TEST_F(DialogTest, EnterReachesTheMovieOnlyWhenItHasTheFocusAndEscapeNeverEnds) {
    RunDialog([&](CMireloDlg&) {
        platform::IDialogWindowEvents* keys = m_window->events;
        EXPECT_FALSE(keys->OnKeyDown(platform::VK_RETURN, true));
        EXPECT_TRUE(keys->OnKeyDown(platform::VK_RETURN, false));
        EXPECT_TRUE(keys->OnKeyDown(platform::VK_ESCAPE, true));
        EXPECT_TRUE(keys->OnKeyDown(platform::VK_ESCAPE, false));
        EXPECT_FALSE(keys->OnKeyDown('A', true));
        EXPECT_FALSE(m_window->ended);
        m_view->focused = false;
        keys->OnAboutRequest();
        EXPECT_NE(m_window->infoTitle.find(VEXA_PRODUCT_NAME), std::string::npos);
        EXPECT_EQ(m_window->infoLines.size(), 5u);
        EXPECT_TRUE(m_view->focused) << "the About box kept the keys";
        m_window->EndModal(IDOK);
    });
}

TEST_F(DialogTest, AnswersGoThroughThePlayerAndUploadDoneCallsUpok) {
    RunDialog([&](CMireloDlg& dlg) {
        EXPECT_EQ(m_view->MovieCalls(
                      "<invoke name=\"getWelcome\" returntype=\"xml\"><arguments/></invoke>"),
                  "<string>client</string>");
        EXPECT_EQ(m_view->MovieCalls(
                      "<invoke name=\"reco_word\" returntype=\"xml\"><arguments/></invoke>"),
                  "");
        platform::UiLoop().PostMessage(dlg.GetDialogWindow(), WM_UPLOAD_DONE, 0, 0);
        platform::UiLoop().PostMessage(dlg.GetDialogWindow(), WM_UPLOAD_DONE, 1, 0);
        m_loop.RunPending();
        ASSERT_EQ(m_view->calls.size(), 1u);
        EXPECT_EQ(m_view->calls[0],
                  "<invoke name='UPOK' "
                  "returntype='xml'><arguments><string></string></arguments></invoke>");
        m_window->EndModal(IDOK);
    });
}

TEST_F(DialogTest, ARecorderThatCannotBeCreatedIsReportedOnceAndTheMovieStillLoads) {
    // A microphone with a volume control but no playback device: the engine refuses it.
    testing::CSimWaveDevices waves;
    waves.inCount = 1;
    waves.outCount = 0;
    testing::CFakeMixer mixer;
    mixer.mixers = {testing::CFakeMixer::Standard()};
    RunDialog([&](CMireloDlg&) {
        std::vector<std::string> texts = m_boxes.Texts();
        ASSERT_EQ(std::count(texts.begin(), texts.end(), kRecorderInitFailed), 1);
        EXPECT_EQ(texts.back(), kRecorderInitFailed) << "after the engine's own message";
        EXPECT_EQ(m_view->loads.size(), 1u);
        // The device counts still answer.
        EXPECT_EQ(m_view->MovieCalls(
                      "<invoke name=\"test_wave\" returntype=\"xml\"><arguments/></invoke>"),
                  "<string>0</string>");
        EXPECT_EQ(m_view->MovieCalls(
                      "<invoke name=\"run_recognize\" returntype=\"xml\"><arguments/></invoke>"),
                  "<string>1</string>");
        m_window->EndModal(IDOK);
    });
}

TEST_F(DialogTest, RecordingCommandsDriveTheRecorder) {
    testing::CSimWaveDevices waves;
    testing::CFakeMixer mixer;
    mixer.mixers = {testing::CFakeMixer::Standard()};
    RunDialog([&](CMireloDlg& dlg) {
        EXPECT_EQ(dlg.Recorder().GetState(), CAudioPlayRec::Ready);
        EXPECT_FALSE(dlg.OpenRecordingOutputs("wav")) << "no output outside a recording";
        m_view->MovieCalls("<invoke name=\"RecStart\" returntype=\"xml\"><arguments/></invoke>");
        EXPECT_EQ(dlg.Recorder().GetState(), CAudioPlayRec::Recording);
        EXPECT_EQ(waves.openIn, 1);
        m_loop.RunFor(600);
        m_view->MovieCalls("<invoke name=\"RecStop\" returntype=\"xml\"><arguments/></invoke>");
        m_loop.RunFor(2000);
        EXPECT_EQ(dlg.Recorder().GetState(), CAudioPlayRec::Ready);
        EXPECT_EQ(waves.openIn, 0);
        std::string wav = CAudioPlayRec::RecordingPath("test.wav");
        FILE* file = std::fopen(wav.c_str(), "rb");
        ASSERT_NE(file, nullptr) << wav;
        std::fseek(file, 0, SEEK_END);
        EXPECT_GT(std::ftell(file), 44L) << "no samples in the recording";
        std::fclose(file);
        m_view->MovieCalls("<invoke name=\"PlayLuYin\" returntype=\"xml\"><arguments/></invoke>");
        EXPECT_EQ(dlg.Recorder().GetState(), CAudioPlayRec::Playing);
        m_loop.RunFor(5000);
        EXPECT_FALSE(waves.played.empty());
        m_window->EndModal(IDOK);
    });
}

TEST_F(DialogTest, ANewRecordingWhoseMp3FailsLeavesNoOlderMp3ForTheUpload) {
    testing::CSimWaveDevices waves;
    testing::CFakeMixer mixer;
    mixer.mixers = {testing::CFakeMixer::Standard()};
    testing::CUploadSinkFake sink;
    setenv("VEXA_UPLOAD_HOST", sink.HostPort().c_str(), 1);
    for (const char* proxy : {"http_proxy", "all_proxy", "ALL_PROXY"}) unsetenv(proxy);
    const std::string mp3 = CAudioPlayRec::RecordingPath("test.mp3");
    auto makeOldMp3 = [&] {
        FILE* file = std::fopen(mp3.c_str(), "wb");
        ASSERT_NE(file, nullptr) << mp3;
        std::fputs("an older recording", file);
        std::fclose(file);
    };
    auto exists = [&] { return access(mp3.c_str(), F_OK) == 0; };
    RunDialog([&](CMireloDlg& dlg) {
        makeOldMp3();
        // No encoder library here: the MP3 cannot be set up, the WAV is recorded alone.
        m_view->MovieCalls("<invoke name=\"RecStart\" returntype=\"xml\"><arguments/></invoke>");
        ASSERT_EQ(dlg.Recorder().GetState(), CAudioPlayRec::Recording);
        std::vector<std::string> texts = m_boxes.Texts();
        EXPECT_NE(std::find(texts.begin(), texts.end(), "Error loading lame_enc.DLL"), texts.end());
        EXPECT_FALSE(exists()) << "the previous recording's MP3 is still there";
        // A second "RecStart" during the capture changes nothing, a file there included.
        makeOldMp3();
        m_view->MovieCalls("<invoke name=\"RecStart\" returntype=\"xml\"><arguments/></invoke>");
        EXPECT_TRUE(exists());
        // The next recording fails its MP3 the same way: the upload after it sends no file.
        for (const char* command : {"RecStop", "RecStart", "RecStop"}) {
            m_view->MovieCalls(std::string("<invoke name=\"") + command +
                               "\" returntype=\"xml\"><arguments/></invoke>");
            if (std::string(command) == "RecStart") {
                EXPECT_FALSE(exists());
            }
            m_loop.RunFor(2000);
        }
        m_view->MovieCalls(
            "<invoke name=\"RecUpload\" returntype=\"xml\"><arguments><array><property "
            "id=\"0\"><string>7</string></property><property id=\"1\"><string>12</string>"
            "</property></array></arguments></invoke>");
        for (int i = 0; i < 100 && m_view->calls.empty(); ++i) {
            m_loop.WaitForPosts(100);
            m_loop.RunPending();
        }
        ASSERT_EQ(m_view->calls.size(), 1u) << "no UPOK";
        m_window->EndModal(IDOK);
    });
    unsetenv("VEXA_UPLOAD_HOST");
    std::vector<testing::CUploadSinkFake::Received> got = sink.Requests();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].Field("uid"), "7");
    EXPECT_EQ(got[0].Field("tid"), "12");
    EXPECT_EQ(got[0].body.find("filename="), std::string::npos) << "a file went with the upload";
}

}  // namespace
}  // namespace vexa
