// The vexa program end to end, on the X display the test runs under (xvfb-run): the real
// program against a loopback content site and upload sink, playing the test movie of Main.hx.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/audio/mp3/Mp3TestSupport.h"
#include "tests/fakes/CFakeContentSite.h"
#include "tests/fakes/CUploadSinkFake.h"

extern char** environ;

// What the close box does: asks the window to close with WM_DELETE_WINDOW (XCloseRequest.cpp).
bool SendCloseRequest(const std::string& windowId);

namespace {

using vexa::testing::CFakeContentSite;
using vexa::testing::CUploadSinkFake;
using Clock = std::chrono::steady_clock;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool Exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

std::string Shell(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

std::string FromHex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

struct Report {
    int seq;
    std::string name;
    std::string value;  // "null" or "s:" + text
};

// The movie's reports, in the order it sent them.
std::vector<Report> Reports(const CFakeContentSite& site) {
    static const std::regex pattern("^/e2e/r/([0-9]+)-([A-Za-z_]+)-([0-9a-f]*)\\.txt$");
    std::map<int, Report> bySeq;
    for (const std::string& path : site.Paths()) {
        std::smatch m;
        if (std::regex_match(path, m, pattern)) {
            int seq = std::stoi(m[1]);
            bySeq[seq] = Report{seq, m[2], FromHex(m[3])};
        }
    }
    std::vector<Report> out;
    out.reserve(bySeq.size());
    for (auto& [seq, report] : bySeq) out.push_back(report);
    return out;
}

std::vector<std::string> ValuesOf(const std::vector<Report>& reports, const std::string& name) {
    std::vector<std::string> values;
    for (const Report& r : reports)
        if (r.name == name) values.push_back(r.value);
    return values;
}

template <typename Pred>
bool WaitFor(Pred pred, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return pred();
}

struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
    bool ok = false;
};

// The window a visible window of the program is transient for (0 for a top-level window).
unsigned long TransientFor(const std::string& id) {
    std::string out = Shell("xprop -id " + id + " WM_TRANSIENT_FOR 2>/dev/null");
    std::smatch m;
    static const std::regex owner("window id # (0x[0-9a-fA-F]+)");
    return std::regex_search(out, m, owner) ? std::stoul(m[1], nullptr, 16) : 0;
}

std::vector<std::string> ProgramWindows() {
    std::string out = Shell("xdotool search --onlyvisible --class '^vexa$' 2>/dev/null");
    std::istringstream lines(out);
    std::vector<std::string> ids;
    std::string id;
    while (std::getline(lines, id))
        if (!id.empty()) ids.push_back(id);
    return ids;
}

// The program's main window: the last visible window of its class that is no message box.
std::string MainWindowId() {
    std::string last;
    for (const std::string& id : ProgramWindows())
        if (TransientFor(id) == 0) last = id;
    return last;
}

// The program's message boxes: its windows transient for another.
std::vector<std::string> MessageBoxWindows() {
    std::vector<std::string> boxes;
    for (const std::string& id : ProgramWindows())
        if (TransientFor(id) != 0) boxes.push_back(id);
    return boxes;
}

Geometry WindowGeometry(const std::string& id) {
    Geometry g;
    if (id.empty()) return g;
    std::string out = Shell("xdotool getwindowgeometry --shell " + id + " 2>/dev/null");
    std::smatch m;
    static const std::regex x("X=(-?[0-9]+)"), y("Y=(-?[0-9]+)"), w("WIDTH=([0-9]+)"),
        h("HEIGHT=([0-9]+)");
    if (!std::regex_search(out, m, x)) return g;
    g.x = std::stoi(m[1]);
    std::regex_search(out, m, y);
    g.y = std::stoi(m[1]);
    std::regex_search(out, m, w);
    g.width = std::stoi(m[1]);
    std::regex_search(out, m, h);
    g.height = std::stoi(m[1]);
    g.ok = true;
    return g;
}

// The share of the screen's pixels in the test movie's background green.
double GreenShare(const std::string& png) {
    std::string out = Shell("convert '" + png +
                            "' -fuzz 6% -fill white -opaque '#2E7D32' -fill black +opaque white "
                            "-colorspace Gray -format '%[fx:mean]' info: 2>/dev/null");
    return out.empty() ? -1.0 : std::atof(out.c_str());
}

// How many pixels of the screenshot are exactly the given colour.
long PixelsOf(const std::string& png, const std::string& colour) {
    std::string out = Shell("convert '" + png + "' -alpha off -fill black +opaque '" + colour +
                            "' -fill white -opaque '" + colour +
                            "' -colorspace Gray -format '%[fx:mean*w*h]' info: 2>/dev/null");
    return out.empty() ? -1 : std::lround(std::atof(out.c_str()));
}

int ColourCount(const std::string& png) {
    std::string out = Shell("convert '" + png + "' -format '%k' info: 2>/dev/null");
    return out.empty() ? 0 : std::atoi(out.c_str());
}

// "WxH+X+Y" for ImageMagick's -crop.
std::string CropOf(int x, int y, int width, int height) {
    return std::to_string(width) + "x" + std::to_string(height) + "+" + std::to_string(x) + "+" +
           std::to_string(y);
}

// The crop of the screenshot with its dark pixels in black and all else in white. The
// toolkit draws text in a dark grey: with toolkitText, pure black (an empty web view) is left
// out.
std::string InkOf(const std::string& png, const std::string& crop, bool toolkitText) {
    return "convert '" + png + "' -crop " + crop + " +repage " +
           (toolkitText ? "-fill white -opaque black " : "") + "-colorspace Gray -threshold 50% ";
}

int DarkPixels(const std::string& png, const std::string& crop, bool toolkitText = false) {
    std::string out = Shell(InkOf(png, crop, toolkitText) +
                            "-format '%[fx:int(w*h*(1-mean)+0.5)]' info: 2>/dev/null");
    return out.empty() ? -1 : std::atoi(out.c_str());
}

// Of the dark pixels' bounding box inside the crop, the share of its darkest row. A row of
// missing-glyph boxes has their top and bottom edges nearly all dark (about 0.9); the strokes of
// real Chinese glyphs leave every row well below that.
double DarkestRowShare(const std::string& png, const std::string& crop) {
    std::string out = Shell(InkOf(png, crop, true) +
                            "-negate -trim +repage -negate -scale '1x!' "
                            "-format '%[fx:1-minima]' info: 2>/dev/null");
    return out.empty() ? -1.0 : std::atof(out.c_str());
}

// Where the test movie's 970 x 607 stage is on the screen: the player paints its letterbox in
// the stage's green too, so the green area is the player, and the stage sits in its middle at
// the scale that shows all of it.
struct Stage {
    double x = 0, y = 0, scale = 0;
    bool ok = false;
};
Stage StageOnScreen(const std::string& png) {
    Stage stage;
    // The green in black, all else in white, in a white frame: the bounding box of what is not
    // white is the player's.
    std::string out = Shell("convert '" + png +
                            "' -fuzz 6% -fill magenta -opaque '#2E7D32' -fill white +opaque "
                            "magenta -fill black -opaque magenta -bordercolor white -border 1 "
                            "-format '%@' info: 2>/dev/null");
    std::smatch m;
    static const std::regex box("^([0-9]+)x([0-9]+)\\+([0-9]+)\\+([0-9]+)");
    if (!std::regex_search(out, m, box)) return stage;
    double width = std::stod(m[1]), height = std::stod(m[2]);
    stage.scale = std::min(width / 970, height / 607);
    stage.x = std::stod(m[3]) - 1 + (width - 970 * stage.scale) / 2;
    stage.y = std::stod(m[4]) - 1 + (height - 607 * stage.scale) / 2;
    stage.ok = stage.scale > 0;
    return stage;
}

// Processes whose environment carries the marker (the program and every process it started).
std::vector<int> MarkedProcesses(const std::string& marker) {
    std::vector<int> pids;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return pids;
    while (dirent* entry = readdir(proc)) {
        int pid = std::atoi(entry->d_name);
        if (pid <= 0) continue;
        std::string env = ReadFile("/proc/" + std::to_string(pid) + "/environ");
        if (env.find(marker) != std::string::npos) pids.push_back(pid);
    }
    closedir(proc);
    return pids;
}

class AppEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run under xvfb-run";
        char pattern[] = "/tmp/vexa-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_dataFolder = m_dir + "/appdata/quinbery/lm";
        m_marker = "VEXA_E2E_MARKER=" + m_dir;
        m_movie = ReadFile(VEXA_E2E_MOVIE);
        ASSERT_FALSE(m_movie.empty());
        m_site.SetFile("/vexa.xml",
                       "<?xml version=\"1.0\"?><config><DelMod><snd>1</snd></DelMod></config>");
        m_site.SetFile("/vexa.swf", m_movie);
        ASSERT_TRUE(m_site.Start());
    }

    void TearDown() override {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        for (int pid : MarkedProcesses(m_marker)) kill(pid, SIGKILL);
        m_site.Stop();
        if (!m_dir.empty() && ::testing::Test::HasFailure() == false)
            Shell("rm -rf '" + m_dir + "'");
    }

    void Launch() {
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            std::string var = *e;
            for (const char* drop :
                 {"APPDATA=", "XDG_STATE_HOME=", "XDG_DATA_HOME=", "XDG_CONFIG_HOME=", "LANG=",
                  "LC_ALL=", "G_MESSAGES_DEBUG=", "VEXA_CONTENT_SITE=", "VEXA_UPLOAD_HOST=",
                  "ALSA_CONFIG_PATH=", "GST_PLUGIN_FEATURE_RANK="})
                if (var.rfind(drop, 0) == 0) var.clear();
            if (!var.empty()) env.push_back(var);
        }
        env.push_back("APPDATA=" + m_dir + "/appdata");
        env.push_back("XDG_STATE_HOME=" + m_dir + "/state");
        env.push_back("XDG_DATA_HOME=" + m_dir + "/data");
        // The locale whose language name Ruffle rejects: the host must cope with it.
        env.push_back("LANG=C.UTF-8");
        env.push_back("G_MESSAGES_DEBUG=vexa");
        env.push_back("VEXA_CONTENT_SITE=" + m_site.BaseUrl());
        env.push_back("VEXA_UPLOAD_HOST=" +
                      (m_uploadHost.empty() ? m_sink.HostPort() : m_uploadHost));
        env.push_back(m_marker);
        for (const std::string& var : m_extraEnv) env.push_back(var);
        std::vector<char*> envp;
        envp.reserve(env.size() + 1);
        for (std::string& var : env) envp.push_back(var.data());
        envp.push_back(nullptr);
        m_log = m_dir + "/vexa.log";
        m_started = Clock::now();
        m_pid = fork();
        ASSERT_GE(m_pid, 0);
        if (m_pid == 0) {
            FILE* log = std::fopen(m_log.c_str(), "w");
            if (log != nullptr) {
                dup2(fileno(log), 1);
                dup2(fileno(log), 2);
            }
            if (chdir(m_dir.c_str()) != 0) _exit(126);
            char* argv[] = {const_cast<char*>(VEXA_E2E_PROGRAM), nullptr};
            execve(VEXA_E2E_PROGRAM, argv, envp.data());
            _exit(127);
        }
    }

    bool WaitForReport(const std::string& name, size_t count, int timeoutMs) {
        return WaitFor([&] { return ValuesOf(Reports(m_site), name).size() >= count; }, timeoutMs);
    }

    // The program's exit status, or -1 when it is still running after timeoutMs.
    int WaitForExit(int timeoutMs) {
        int status = 0;
        bool ended = WaitFor([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; }, timeoutMs);
        if (!ended) return -1;
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::vector<std::string> TraceLines() {
        std::vector<std::string> lines;
        std::istringstream in(ReadFile(m_log));
        std::string line;
        static const std::regex trace("vexa-DEBUG: [0-9:.]+: (.*)$");
        while (std::getline(in, line)) {
            std::smatch m;
            if (std::regex_search(line, m, trace)) lines.push_back(m[1]);
        }
        return lines;
    }

    // Index of the first trace line starting with prefix, -1 when there is none.
    int TraceIndex(const std::string& prefix) {
        std::vector<std::string> lines = TraceLines();
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
        return -1;
    }

    std::string Screenshot(const std::string& name) {
        std::string png = std::string(VEXA_E2E_SCREENSHOT_DIR) + "/" + name + ".png";
        Shell("import -window root '" + png + "' 2>/dev/null");
        return png;
    }

    CFakeContentSite m_site;
    CUploadSinkFake m_sink;
    std::string m_dir, m_dataFolder, m_marker, m_movie, m_log;
    std::string m_uploadHost;  // the sink's when empty
    std::vector<std::string> m_extraEnv;
    pid_t m_pid = -1;
    Clock::time_point m_started;
};

TEST_F(AppEndToEnd, PlaysTheMovieAnswersItAndEndsCleanly) {
    Launch();
    ASSERT_TRUE(WaitForReport("commands", 1, 90000))
        << "the movie did not get through its commands; log:\n"
        << ReadFile(m_log);

    // Start-up, in order, on the first timer tick; then the movie's first call.
    std::vector<std::string> order = {"startup: folders",
                                      "startup: server on port",
                                      "startup: content upkeep done",
                                      "startup: loading text hidden",
                                      "startup: movie loaded",
                                      "layout: windowed",
                                      "movie: first call"};
    int previous = -1;
    for (const std::string& step : order) {
        int at = TraceIndex(step);
        EXPECT_GT(at, previous) << step << " missing or out of order; log:\n" << ReadFile(m_log);
        previous = at;
    }
    // The first free port from 9898 (other programs on this machine may hold 9898 itself), and
    // the movie comes from it.
    std::smatch port;
    std::string traceText;
    for (const std::string& line : TraceLines()) traceText += line + "\n";
    ASSERT_TRUE(std::regex_search(traceText, port, std::regex("server on port ([0-9]+)")));
    EXPECT_GE(std::stoi(port[1]), 9898);
    EXPECT_NE(traceText.find("movie loaded from http://127.0.0.1:" + port[1].str() + "/vexa.swf"),
              std::string::npos);
    // The content upkeep asked for the configuration before the movie was fetched.
    std::vector<std::string> paths = m_site.Paths();
    auto first = [&](const std::string& p) {
        for (size_t i = 0; i < paths.size(); ++i)
            if (paths[i] == p) return static_cast<int>(i);
        return -1;
    };
    ASSERT_NE(first("/vexa.xml"), -1);
    ASSERT_NE(first("/vexa.swf"), -1);
    EXPECT_LT(first("/vexa.xml"), first("/vexa.swf"));
    EXPECT_TRUE(Exists(m_dataFolder + "/VerDel.Dat"));

    // The answers the movie received.
    std::vector<Report> reports = Reports(m_site);
    EXPECT_EQ(ValuesOf(reports, "available"), std::vector<std::string>{"s:yes"});
    EXPECT_EQ(ValuesOf(reports, "getWelcome"), std::vector<std::string>{"s:client"});
    EXPECT_EQ(ValuesOf(reports, "getClient"),
              (std::vector<std::string>{"s:client", "s:client", "s:client"}));
    EXPECT_EQ(ValuesOf(reports, "getOSVersion"), std::vector<std::string>{"s:未知"});
    for (const char* count : {"test_wave", "run_recognize"}) {
        std::vector<std::string> v = ValuesOf(reports, count);
        ASSERT_EQ(v.size(), 1u) << count;
        EXPECT_TRUE(v[0] == "s:0" || v[0] == "s:1") << count << " answered " << v[0];
    }
    for (const char* silent : {"reco_word", "play_file", "RecStop", "recupload", "RecUpload"})
        EXPECT_EQ(ValuesOf(reports, silent), std::vector<std::string>{"null"}) << silent;

    // "RecUpload" ["7","12","2"]: one upload to the endpoint of type 2, then one "UPOK".
    ASSERT_TRUE(m_sink.WaitForRequests(1, 20000));
    std::vector<CUploadSinkFake::Received> uploads = m_sink.Requests();
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].method, "POST");
    EXPECT_EQ(uploads[0].path, "/Upfile_mp.ashx");
    EXPECT_EQ(uploads[0].Field("uid"), "7");
    EXPECT_EQ(uploads[0].Field("tid"), "12");
    ASSERT_TRUE(WaitForReport("UPOK", 1, 20000));
    EXPECT_EQ(ValuesOf(Reports(m_site), "UPOK"), std::vector<std::string>{"s:"});

    // The windowed layout, centred on the 1024 x 768 screen by the framed window's outer size;
    // no window manager here, so the window is its client area, the movie's size.
    std::string window = MainWindowId();
    ASSERT_FALSE(window.empty()) << "no visible window of class vexa";
    Geometry g = WindowGeometry(window);
    ASSERT_TRUE(g.ok);
    EXPECT_EQ(g.width, 970);
    EXPECT_EQ(g.height, 607);
    EXPECT_EQ(g.x, (1024 - 976) / 2);
    EXPECT_EQ(g.y, (768 - 632) / 2);
    // The desktop knows the program by its class and shows its icon.
    std::string props =
        Shell("xprop -id " + window + " WM_CLASS _NET_WM_ICON 2>/dev/null | head -c 400");
    EXPECT_NE(props.find("WM_CLASS(STRING) = \"vexa\", \"Vexa\""), std::string::npos) << props;
    EXPECT_NE(props.find("_NET_WM_ICON(CARDINAL) = "), std::string::npos) << props;
    std::string shot = Screenshot("e2e-windowed");
    EXPECT_GT(ColourCount(shot), 2) << shot;
    // The movie fills 970 x 607 of the 1024 x 768 screen: about 75 % is its background or disc.
    double green = GreenShare(shot);
    EXPECT_GT(green, 0.25) << shot;
    EXPECT_LT(green, 0.80) << shot;

    // Keys: Enter reaches the movie, Escape is dropped and closes nothing.
    // A click on the movie gives it the keyboard focus, as a child's first click would.
    Shell("xdotool windowfocus --sync " + window + " 2>/dev/null");
    Shell("xdotool mousemove --sync 500 300 sleep 0.3 mousedown 1 sleep 0.2 mouseup 1 2>/dev/null");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    Shell("xdotool key Escape sleep 0.3 key Return 2>/dev/null");
    // The player element gets Enter and only Enter.
    EXPECT_TRUE(
        WaitFor([&] { return TraceIndex("page: key Enter on RUFFLE-PLAYER") != -1; }, 10000))
        << "Enter did not reach the movie's player";
    EXPECT_EQ(TraceIndex("page: key Escape"), -1) << "Escape was not dropped";
    EXPECT_NE(TraceIndex("key 27 dropped"), -1);
    EXPECT_EQ(WaitForExit(0), -1) << "a key ended the program";

    // "getWinSize" twice: full screen, then back.
    m_site.SetFile("/e2e/fullscreen.xml", "<go/>");
    ASSERT_TRUE(WaitForReport("getWinSize", 1, 20000));
    EXPECT_TRUE(WaitFor(
        [&] {
            Geometry f = WindowGeometry(window);
            return f.ok && f.x <= 0 && f.y <= 0 && f.x + f.width >= 1024 && f.y + f.height >= 768;
        },
        10000))
        << "full screen not reached";
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    std::string full = Screenshot("e2e-fullscreen");
    EXPECT_GT(GreenShare(full), 0.80) << "the movie does not fill the screen: " << full;

    m_site.SetFile("/e2e/windowed.xml", "<go/>");
    ASSERT_TRUE(WaitForReport("getWinSize", 2, 20000));
    EXPECT_TRUE(WaitFor(
        [&] {
            Geometry w = WindowGeometry(window);
            return w.ok && w.x == 24 && w.y == 68 && w.width == 970 && w.height == 607;
        },
        10000))
        << "windowed layout not restored: " << WindowGeometry(window).x << ","
        << WindowGeometry(window).y << " " << WindowGeometry(window).width << "x"
        << WindowGeometry(window).height;

    // "LocalFileClear" then "CloseWinExe": the data folder goes, the program ends cleanly and
    // leaves no process behind.
    m_site.SetFile("/e2e/close.xml", "<go/>");
    int status = WaitForExit(30000);
    EXPECT_EQ(status, 0) << ReadFile(m_log);
    EXPECT_NE(TraceIndex("dialog ended with 1"), -1) << "not ended through OK";
    EXPECT_FALSE(Exists(m_dataFolder)) << "LocalFileClear left the data folder";
    EXPECT_TRUE(WaitFor([&] { return MarkedProcesses(m_marker).empty(); }, 10000))
        << "processes left behind";
    auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - m_started);
    std::printf("e2e: whole run %lld s\n", static_cast<long long>(elapsed.count()));
}

TEST_F(AppEndToEnd, TheCloseBoxStopsTheServerAndEndsCleanly) {
    Launch();
    ASSERT_TRUE(WaitForReport("commands", 1, 90000))
        << "the movie did not get through its commands; log:\n"
        << ReadFile(m_log);
    std::string window = MainWindowId();
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(SendCloseRequest(window));
    EXPECT_EQ(WaitForExit(30000), 0) << ReadFile(m_log);
    int stop = TraceIndex("closing: stopping the server");
    int end = TraceIndex("dialog ended with 2");
    EXPECT_NE(stop, -1);
    EXPECT_GT(end, stop) << "the server is stopped before the dialog ends";
    EXPECT_TRUE(Exists(m_dataFolder + "/vexa.swf")) << "closing keeps the data folder";
    EXPECT_TRUE(WaitFor([&] { return MarkedProcesses(m_marker).empty(); }, 10000))
        << "processes left behind";
}

TEST_F(AppEndToEnd, DeviceFontTextDrawsChineseAndLatin) {
    std::string movie = ReadFile(VEXA_E2E_TEXT_MOVIE);
    ASSERT_FALSE(movie.empty());
    m_site.SetFile("/vexa.swf", movie);
    Launch();
    ASSERT_TRUE(WaitForReport("shown", 1, 90000)) << "the text movie did not start; log:\n"
                                                  << ReadFile(m_log);
    EXPECT_EQ(ValuesOf(Reports(m_site), "shown"), std::vector<std::string>{"s:未知"});
    // The page fetched the font while the player's engine loaded, and gave it from memory.
    EXPECT_NE(TraceIndex("page: device fonts fetched ahead: 1"), -1);
    EXPECT_EQ(TraceIndex("page: device font "), -1) << "a device font was not fetched ahead";
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    std::string shot = Screenshot("e2e-device-text");
    Stage stage = StageOnScreen(shot);
    ASSERT_TRUE(stage.ok) << shot;
    // DeviceText.hx's cells: the Latin control, then the answer in each font name, then Latin
    // and Chinese together.
    const char* const fonts[] = {"_sans (Latin)",
                                 "_sans",
                                 "_serif",
                                 "_typewriter",
                                 "宋体",
                                 "新宋体",
                                 "黑体",
                                 "楷体",
                                 "仿宋",
                                 "微软雅黑",
                                 "SimSun",
                                 "SimHei",
                                 "宋体 (Latin and Chinese)"};
    for (int i = 0; i < 13; ++i) {
        // A few pixels inside the cell, clear of its edge against the dark green.
        auto at = [&](double offset, double movie) {
            return static_cast<int>(offset + movie * stage.scale + 0.5);
        };
        int x = at(stage.x, 25 + (i % 4) * 235 + 4), y = at(stage.y, 25 + (i / 4) * 140 + 4);
        std::string crop = CropOf(x, y, at(0, 212), at(0, 102));
        int dark = DarkPixels(shot, crop);
        std::printf("e2e: device text in %s: %d dark pixels\n", fonts[i], dark);
        // Two glyphs of 56 px leave well over a thousand dark pixels; a missing glyph none.
        EXPECT_GT(dark, 400) << fonts[i] << " at " << crop << " in " << shot;
    }
    ASSERT_TRUE(SendCloseRequest(MainWindowId()));
    EXPECT_EQ(WaitForExit(30000), 0) << ReadFile(m_log);
}

TEST_F(AppEndToEnd, TheLoadingTextAndAMessageBoxDrawChinese) {
    // No configuration on the site: the program says it could not open it, over the loading
    // window, whose text stays up meanwhile.
    m_site.SetNotFound("/vexa.xml");
    Launch();
    std::vector<std::string> boxes;
    ASSERT_TRUE(WaitFor([&] { return !(boxes = MessageBoxWindows()).empty(); }, 60000))
        << ReadFile(m_log);
    EXPECT_NE(TraceIndex("message box: 打开资源更新文件失败！"), -1);
    // The box opens over the loading window; moved aside, both can be seen.
    Shell("xdotool windowmove --sync " + boxes[0] + " 0 0 2>/dev/null");
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    Geometry g = WindowGeometry(MainWindowId());
    Geometry b = WindowGeometry(boxes[0]);
    ASSERT_TRUE(g.ok && b.ok);
    ASSERT_TRUE(b.x + b.width <= g.x || b.y + b.height <= g.y) << "the box still covers the window";
    std::string shot = Screenshot("e2e-loading-and-message-box");
    struct Text {
        const char* what;
        std::string crop;
    };
    // The loading window holds the text and the still empty (black) player; the box's text
    // sits above its button row.
    const Text texts[] = {{"loading text", CropOf(g.x, g.y, g.width, g.height)},
                          {"message box text", CropOf(b.x, b.y, b.width, b.height / 2)}};
    for (const Text& text : texts) {
        int dark = DarkPixels(shot, text.crop, true);
        double row = DarkestRowShare(shot, text.crop);
        std::printf("e2e: %s: %d dark pixels, darkest row %.2f\n", text.what, dark, row);
        EXPECT_GT(dark, 150) << text.what << " in " << shot;
        EXPECT_LT(dark, 3000) << text.what << " not drawn in " << shot;
        EXPECT_LT(row, 0.75) << text.what << ": missing-glyph boxes in " << shot;
    }
    ASSERT_TRUE(SendCloseRequest(boxes[0]));
    ASSERT_TRUE(WaitFor([&] { return MessageBoxWindows().empty(); }, 10000));
    ASSERT_TRUE(SendCloseRequest(MainWindowId()));
    EXPECT_EQ(WaitForExit(30000), 0) << ReadFile(m_log);
}

// The window's background in a colour the test movie never draws (user style sheet of the
// scratch home), so any of it on screen is window that the movie does not cover.
class LayoutEndToEnd : public AppEndToEnd {
  protected:
    static constexpr const char* kBackground = "#FF00FF";

    void SetUp() override {
        AppEndToEnd::SetUp();
        if (HasFatalFailure()) return;
        std::string config = m_dir + "/config/gtk-3.0";
        ASSERT_EQ(std::system(("mkdir -p '" + config + "'").c_str()), 0);
        std::ofstream(config + "/gtk.css")
            << "window, layout { background-color: " << kBackground << "; }\n";
        m_extraEnv.push_back("XDG_CONFIG_HOME=" + m_dir + "/config");
    }

    long BackgroundPixels(const std::string& name) {
        return PixelsOf(Screenshot(name), kBackground);
    }

    // The key codes the movie's own KEY_DOWN listener has reported.
    std::vector<std::string> MovieKeys() { return ValuesOf(Reports(m_site), "key"); }

    bool MovieGetsEnter() {
        size_t before = MovieKeys().size();
        Shell("xdotool key Return 2>/dev/null");
        return WaitFor(
            [&] {
                std::vector<std::string> keys = MovieKeys();
                return keys.size() > before && keys.back() == "s:13";
            },
            10000);
    }
};

TEST_F(LayoutEndToEnd, TheMovieCoversTheWindowAndTheScreenAndGetsEnter) {
    Launch();
    ASSERT_TRUE(WaitForReport("commands", 1, 90000)) << ReadFile(m_log);
    std::string window = MainWindowId();
    ASSERT_FALSE(window.empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(BackgroundPixels("e2e-layout-windowed"), 0) << "window shows beside the movie";

    // Enter reaches the movie's listener with no click on the movie first; Escape is dropped
    // before the movie and ends nothing.
    EXPECT_TRUE(MovieGetsEnter()) << ReadFile(m_log);
    Shell("xdotool key Escape 2>/dev/null");
    EXPECT_TRUE(MovieGetsEnter());
    std::vector<std::string> keys = MovieKeys();
    EXPECT_EQ(std::count(keys.begin(), keys.end(), "s:27"), 0) << "Escape reached the movie";
    EXPECT_EQ(WaitForExit(0), -1) << "Escape ended the program";

    // The About box (F1) over the movie; once it is closed the movie has the keys again.
    Shell("xdotool key F1 2>/dev/null");
    std::vector<std::string> boxes;
    ASSERT_TRUE(WaitFor([&] { return !(boxes = MessageBoxWindows()).empty(); }, 10000))
        << "F1 showed no About box";
    ASSERT_TRUE(SendCloseRequest(boxes[0]));
    ASSERT_TRUE(WaitFor([&] { return MessageBoxWindows().empty(); }, 10000));
    EXPECT_TRUE(MovieGetsEnter()) << "no Enter after the About box";

    // Full screen: the window is the screen and the movie covers all of it, keys included.
    m_site.SetFile("/e2e/fullscreen.xml", "<go/>");
    ASSERT_TRUE(WaitForReport("getWinSize", 1, 20000));
    EXPECT_TRUE(WaitFor(
        [&] {
            Geometry f = WindowGeometry(window);
            return f.ok && f.x == 0 && f.y == 0 && f.width == 1024 && f.height == 768;
        },
        10000));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_EQ(BackgroundPixels("e2e-layout-fullscreen"), 0) << "window shows in full screen";
    EXPECT_TRUE(MovieGetsEnter()) << "no Enter in full screen";

    // And back.
    m_site.SetFile("/e2e/windowed.xml", "<go/>");
    ASSERT_TRUE(WaitForReport("getWinSize", 2, 20000));
    EXPECT_TRUE(WaitFor([&] { return WindowGeometry(window).width == 970; }, 10000));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_EQ(BackgroundPixels("e2e-layout-windowed-again"), 0);
    EXPECT_TRUE(MovieGetsEnter()) << "no Enter after leaving full screen";

    m_site.SetFile("/e2e/close.xml", "<go/>");
    EXPECT_EQ(WaitForExit(30000), 0) << ReadFile(m_log);
}

// A content site that accepts and never answers (a captive portal, a firewall that drops),
// with the lesson of an earlier run in the data folder.
class SilentSiteEndToEnd : public AppEndToEnd {
  protected:
    void SetUp() override {
        AppEndToEnd::SetUp();
        if (HasFatalFailure()) return;
        Shell("mkdir -p '" + m_dataFolder + "'");
        std::ofstream(m_dataFolder + "/vexa.xml")
            << "<?xml version=\"1.0\"?><config><DelMod><snd>1</snd></DelMod></config>";
        std::ofstream(m_dataFolder + "/VerDel.Dat")
            << "<?xml version=\"1.0\"?><root><snd>1</snd></root>";
        std::ofstream(m_dataFolder + "/vexa.swf", std::ios::binary) << m_movie;
        m_site.SetSilent(true);
    }

    // Milliseconds from the launch until the trace line starting with prefix appeared; -1 when
    // it did not within timeoutMs.
    long long MsUntilTrace(const std::string& prefix, int timeoutMs) {
        if (!WaitFor([&] { return TraceIndex(prefix) != -1; }, timeoutMs)) return -1;
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_started)
            .count();
    }
};

TEST_F(SilentSiteEndToEnd, TheMovieStartsFromTheLocalCopyWithinTenSeconds) {
    Launch();
    long long firstCall = MsUntilTrace("movie: first call", 30000);
    ASSERT_NE(firstCall, -1) << "the movie never called; log:\n" << ReadFile(m_log);
    EXPECT_LT(firstCall, 10000) << ReadFile(m_log);
    std::printf("e2e: silent site, first movie call %lld ms after launch\n", firstCall);
    int wait = TraceIndex("startup: no configuration in time");
    EXPECT_NE(wait, -1);
    EXPECT_LT(wait, TraceIndex("startup: movie loaded"));
    // The movie's own requests did not wait on the site: it saw the configuration download only.
    EXPECT_EQ(m_site.Paths(), std::vector<std::string>{"/vexa.xml"});
    std::string window = MainWindowId();
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(SendCloseRequest(window));
    EXPECT_EQ(WaitForExit(10000), 0) << ReadFile(m_log);
}

TEST_F(SilentSiteEndToEnd, TheCloseBoxEndsTheProgramWhileTheStartUpWaits) {
    Launch();
    // Three seconds after the launch, or once the download is under way on a slower machine.
    ASSERT_NE(MsUntilTrace("startup: downloading the configuration", 30000), -1) << ReadFile(m_log);
    std::this_thread::sleep_until(m_started + std::chrono::seconds(3));
    std::string window;
    ASSERT_TRUE(WaitFor([&] { return !(window = MainWindowId()).empty(); }, 10000))
        << ReadFile(m_log);
    ASSERT_EQ(TraceIndex("startup: content upkeep"), -1) << "the start-up did not wait";
    auto sent = Clock::now();
    ASSERT_TRUE(SendCloseRequest(window));
    int status = WaitForExit(10000);
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent);
    EXPECT_EQ(status, 0) << ReadFile(m_log);
    EXPECT_LT(took.count(), 2000) << ReadFile(m_log);
    std::printf("e2e: silent site, close box to exit %lld ms\n",
                static_cast<long long>(took.count()));
    EXPECT_NE(TraceIndex("closing: stopping the server"), -1);
    EXPECT_NE(TraceIndex("dialog ended with 2"), -1);
    EXPECT_EQ(TraceIndex("startup: content upkeep"), -1);
    EXPECT_TRUE(WaitFor([&] { return MarkedProcesses(m_marker).empty(); }, 10000))
        << "processes left behind";
}

#if defined(VEXA_E2E_PACED_MODULE) && defined(VEXA_E2E_PACED_CONFIG_TOOL)

// The voice exercise with the paced test device as the microphone and speaker: the device
// "hears" a spoken sentence and keeps what is played to it.
class VoiceEndToEnd : public AppEndToEnd {
  protected:
    void SetUp() override {
        AppEndToEnd::SetUp();
        if (HasFatalFailure()) return;
        m_speech = m_dir + "/speech.raw";
        m_played = m_dir + "/played.raw";
        std::string wav = m_dir + "/speech.wav";
        std::string make = "espeak-ng -s 130 -w '" + wav +
                           "' 'Apple. I can say apple! The little fox jumps over the lazy dog. "
                           "One, two, three, four, five.' && sox '" +
                           wav + "' -t raw -e signed-integer -b 16 -c 1 -r 22050 '" + m_speech +
                           "' && sh '" VEXA_E2E_PACED_CONFIG_TOOL "' '" + m_dir +
                           "/asound.conf' '" VEXA_E2E_PACED_MODULE "' '" + m_speech + "' '" +
                           m_played + "'";
        ASSERT_EQ(std::system(make.c_str()), 0) << make;
        m_extraEnv.push_back("ALSA_CONFIG_PATH=" + m_dir + "/asound.conf");
        // The web view's own audio (the player's silent output) would open the same device,
        // directly or through OpenAL, and truncate what it keeps: GStreamer gets no usable sink.
        m_extraEnv.push_back(
            "GST_PLUGIN_FEATURE_RANK=alsasink:NONE,openalsink:NONE,pulsesink:NONE,"
            "jackaudiosink:NONE,oss4sink:NONE,osssink:NONE");
        m_site.SetFile("/e2e/mode.xml", "<voice/>");
        m_recordings = m_dir + "/state/quinbery/";
    }

    std::vector<std::int16_t> Samples(const std::string& rawPath) {
        std::string bytes = ReadFile(rawPath);
        std::vector<std::int16_t> samples(bytes.size() / 2);
        std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
        return samples;
    }

    std::string m_speech, m_played, m_recordings;
};

TEST_F(VoiceEndToEnd, RecordsPlaysAndUploadsTheChildsVoice) {
    using vexa::testing::CommandOutput;
    using vexa::testing::Correlation;
    using vexa::testing::DecodeMp3;
    using vexa::testing::ReadWavSamples;
    Launch();

    // "PlayLuYin" while capturing: the recorder refuses with its message box, over the main
    // window, and the movie's call waits until the box is closed.
    ASSERT_TRUE(WaitFor([&] { return TraceIndex("message box: Class status error") != -1; }, 90000))
        << "no refusal shown; log:\n"
        << ReadFile(m_log);
    std::vector<std::string> boxes;
    ASSERT_TRUE(WaitFor([&] { return !(boxes = MessageBoxWindows()).empty(); }, 10000))
        << "the message box is not on screen";
    ASSERT_EQ(boxes.size(), 1u);
    std::string window = MainWindowId();
    ASSERT_FALSE(window.empty());
    EXPECT_EQ(TransientFor(boxes[0]), std::stoul(window));
    Screenshot("e2e-voice-refused");
    EXPECT_TRUE(ValuesOf(Reports(m_site), "refused").empty())
        << "the call did not wait for the box";
    ASSERT_TRUE(SendCloseRequest(boxes[0]));
    ASSERT_TRUE(WaitForReport("refused", 1, 10000)) << ReadFile(m_log);
    EXPECT_NE(TraceIndex("message box closed"), -1);
    EXPECT_EQ(ValuesOf(Reports(m_site), "PlayLuYin"), std::vector<std::string>{"null"});

    // Stop, listen, send: one upload to the endpoint of type 1 with the ids and the MP3, then
    // one "UPOK".
    ASSERT_TRUE(m_sink.WaitForRequests(1, 30000)) << ReadFile(m_log);
    ASSERT_TRUE(WaitForReport("UPOK", 1, 20000));
    std::vector<CUploadSinkFake::Received> uploads = m_sink.Requests();
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].path, "/Upfile_en.ashx");
    EXPECT_EQ(uploads[0].Field("uid"), "e2e-7");
    EXPECT_EQ(uploads[0].Field("tid"), "e2e-12");
    std::string mp3 = ReadFile(m_recordings + "test.mp3");
    ASSERT_GT(mp3.size(), 4000u);
    const std::string fileHead =
        "filename=\"test.mp3\"\r\nContent-Type: application/octet-stream\r\n\r\n";
    size_t at = uploads[0].body.find(fileHead);
    ASSERT_NE(at, std::string::npos) << "no file part";
    EXPECT_EQ(uploads[0].body.substr(at + fileHead.size(), mp3.size()), mp3)
        << "the uploaded bytes differ from test.mp3";
    EXPECT_EQ(uploads[0].body.compare(at + fileHead.size() + mp3.size(), 4, "\r\n\r\n"), 0);

    // test.wav: the device's speech, sample for sample, for about the three seconds between
    // "RecStart" and "RecStop" (less the device's start and the buffer under way at the stop).
    std::string wav = m_recordings + "test.wav";
    EXPECT_EQ(CommandOutput("soxi -r '" + wav + "'").value_or("?"), "22050\n");
    EXPECT_EQ(CommandOutput("soxi -c '" + wav + "'").value_or("?"), "1\n");
    std::vector<std::int16_t> recorded = ReadWavSamples(wav);
    std::vector<std::int16_t> speech = Samples(m_speech);
    ASSERT_GE(recorded.size(), 22050u * 5 / 2);
    ASSERT_LT(recorded.size(), 22050u * 60);
    size_t common = std::min(recorded.size(), speech.size());
    EXPECT_TRUE(std::equal(recorded.begin(), recorded.begin() + common, speech.begin()))
        << "the recording is not the speech the device captured";
    // test.mp3: an MPEG layer III stream that decodes to the same speech.
    std::string kind = CommandOutput("file -b '" + m_recordings + "test.mp3'").value_or("");
    EXPECT_NE(kind.find("MPEG ADTS, layer III"), std::string::npos) << kind;
    std::string decodedPath = m_dir + "/decoded.wav";
    ASSERT_TRUE(DecodeMp3(m_recordings + "test.mp3", decodedPath));
    std::vector<std::int16_t> decoded = ReadWavSamples(decodedPath);
    EXPECT_GE(decoded.size(), recorded.size());
    EXPECT_GT(Correlation(decoded, recorded), 0.95);

    // "PlayLuYin" after the stop: the device is played the recording.
    size_t recordedBytes = recorded.size() * 2;
    EXPECT_TRUE(WaitFor([&] { return ReadFile(m_played).size() >= recordedBytes; }, 30000))
        << "played " << ReadFile(m_played).size() << " of " << recordedBytes << " bytes";
    std::vector<std::int16_t> played = Samples(m_played);
    ASSERT_GE(played.size(), recorded.size());
    EXPECT_TRUE(std::equal(recorded.begin(), recorded.end(), played.begin()))
        << "what was played is not the recording";

    // "RecUpload" once test.mp3 is gone: the two fields and no file, and still one "UPOK".
    ASSERT_EQ(std::remove((m_recordings + "test.mp3").c_str()), 0);
    m_site.SetFile("/e2e/nomp3.xml", "<go/>");
    ASSERT_TRUE(m_sink.WaitForRequests(2, 20000));
    ASSERT_TRUE(WaitForReport("UPOK", 2, 20000));
    uploads = m_sink.Requests();
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_EQ(uploads[1].path, "/Upfile_qz.ashx");
    EXPECT_EQ(uploads[1].Field("uid"), "e2e-8");
    EXPECT_EQ(uploads[1].Field("tid"), "e2e-13");
    EXPECT_EQ(uploads[1].body.find("filename="), std::string::npos);
    EXPECT_TRUE(uploads[1].lengthAnnounced);
    EXPECT_EQ(uploads[1].announcedLength, uploads[1].body.size());

    m_site.SetFile("/e2e/close.xml", "<go/>");
    EXPECT_EQ(WaitForExit(30000), 0) << ReadFile(m_log);
    EXPECT_EQ(ValuesOf(Reports(m_site), "UPOK"), (std::vector<std::string>{"s:", "s:"}));
    EXPECT_EQ(m_sink.Requests().size(), 2u);
}

// The upload service is down while the child records and sends: the movie still hears "UPOK",
// and the next start, with the service back, delivers that recording with its first ids.
TEST_F(VoiceEndToEnd, AnUploadThatFailedArrivesAtTheNextStart) {
    {
        CUploadSinkFake down;
        m_uploadHost = down.HostPort();
    }
    Launch();
    ASSERT_TRUE(WaitFor([&] { return !MessageBoxWindows().empty(); }, 90000))
        << "no refusal shown; log:\n"
        << ReadFile(m_log);
    ASSERT_TRUE(SendCloseRequest(MessageBoxWindows()[0]));
    ASSERT_TRUE(WaitForReport("UPOK", 1, 60000)) << ReadFile(m_log);
    std::string mp3 = ReadFile(m_recordings + "test.mp3");
    ASSERT_GT(mp3.size(), 4000u);
    std::string outbox = m_recordings + "outbox";
    std::string entries = Shell("ls '" + outbox + "'");
    EXPECT_TRUE(std::regex_match(entries, std::regex("[0-9]{16}-[0-9]{6}\n"))) << entries;
    EXPECT_NE(ReadFile(m_recordings + "RunLog.log").find("kept in the outbox as"),
              std::string::npos);
    // Playback of the recording ends before the window is closed.
    std::string wav = m_recordings + "test.wav";
    EXPECT_TRUE(
        WaitFor([&] { return ReadFile(m_played).size() + 100 >= ReadFile(wav).size(); }, 30000));
    ASSERT_TRUE(SendCloseRequest(MainWindowId()));
    ASSERT_EQ(WaitForExit(30000), 0) << ReadFile(m_log);
    EXPECT_TRUE(m_sink.Requests().empty());

    // Only the outbox has the recording now.
    ASSERT_EQ(std::remove((m_recordings + "test.mp3").c_str()), 0);
    m_uploadHost.clear();
    m_site.ClearLog();
    m_site.SetFile("/e2e/mode.xml", "<commands/>");
    Launch();
    CUploadSinkFake::Received r;
    auto resent = [&] {
        for (const CUploadSinkFake::Received& got : m_sink.Requests())
            if (got.Field("uid") == "e2e-7") {
                r = got;
                return true;
            }
        return false;
    };
    ASSERT_TRUE(WaitFor(resent, 90000)) << ReadFile(m_log);
    // Sent once the start-up is done, well before the movie's own upload.
    EXPECT_EQ(m_sink.Requests().at(0).Field("uid"), "e2e-7");
    EXPECT_EQ(r.path, "/Upfile_en.ashx");
    EXPECT_EQ(r.Field("tid"), "e2e-12");
    const std::string fileHead =
        "filename=\"test.mp3\"\r\nContent-Type: application/octet-stream\r\n\r\n";
    size_t at = r.body.find(fileHead);
    ASSERT_NE(at, std::string::npos) << "no file part";
    EXPECT_TRUE(r.body.compare(at + fileHead.size(), mp3.size(), mp3) == 0)
        << "the resent bytes differ from the first run's test.mp3";
    EXPECT_EQ(r.announcedLength, r.body.size());
    ASSERT_TRUE(WaitForReport("commands", 1, 90000)) << ReadFile(m_log);
    EXPECT_TRUE(WaitFor([&] { return Shell("ls '" + outbox + "'").empty(); }, 10000))
        << "the delivered entry is still waiting";
    EXPECT_NE(ReadFile(m_recordings + "RunLog.log").find("sent to /Upfile_en.ashx"),
              std::string::npos);
    ASSERT_TRUE(SendCloseRequest(MainWindowId()));
    EXPECT_EQ(WaitForExit(30000), 0) << ReadFile(m_log);
}

#endif

}  // namespace
