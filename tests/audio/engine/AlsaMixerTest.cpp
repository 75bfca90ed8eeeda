// The volume probe and the ALSA mixer on a real mixer: a private PulseAudio server, whose
// recording volume ALSA's pulse plugin shows as the "Capture" element of the default mixer.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/CAudioPlayRec.h"
#include "audio/CVolumeInXXX.h"
#include "platform/alsa/CAlsaMixerDevices.h"
#include "platform/alsa/CAlsaWaveDevices.h"
#include "platform/glib/CGlibUiLoop.h"
#include "tests/audio/engine/EngineFixture.h"

extern char** environ;

namespace vexa::testing {
namespace {

std::string Output(const std::string& command) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return out;
    char buf[512];
    while (std::fgets(buf, sizeof buf, pipe.get()) != nullptr) out += buf;
    return out;
}

// One server for the whole process: alsa-lib and the pulse plugin read their settings once.
class PulseServer {
  public:
    PulseServer() {
        char pattern[] = "/tmp/vexa-pulse-XXXXXX";
        if (mkdtemp(pattern) == nullptr) return;
        m_folder = pattern;
        std::string home = m_folder + "/home";
        std::string run = m_folder + "/run";
        mkdir(home.c_str(), 0700);
        mkdir(run.c_str(), 0700);
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
        std::string config = m_folder + "/asound.conf";
        if (FILE* f = std::fopen(config.c_str(), "w")) {
            std::fputs("pcm.!default { type pulse }\nctl.!default { type pulse }\n", f);
            std::fclose(f);
        }
        std::string path = "/usr/share/alsa/alsa.conf:" + config;
        setenv("ALSA_CONFIG_PATH", path.c_str(), 1);

        std::vector<std::string> args = {"pulseaudio",
                                         "-n",
                                         "--daemonize=no",
                                         "--exit-idle-time=-1",
                                         "--disable-shm=yes",
                                         "--log-level=error",
                                         "-L",
                                         "module-null-sink sink_name=vexa_sink",
                                         "-L",
                                         "module-native-protocol-unix"};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&m_pid, "pulseaudio", nullptr, nullptr, argv.data(), environ) != 0) {
            m_pid = 0;
            return;
        }
        std::string socket = run + "/pulse/native";
        for (int i = 0; i < 100; ++i) {
            struct stat st;
            if (stat(socket.c_str(), &st) == 0 &&
                Output("pactl info >/dev/null 2>&1; echo $?") == "0\n") {
                m_ready = true;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~PulseServer() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            int status;
            waitpid(m_pid, &status, 0);
        }
        if (!m_folder.empty()) std::system(("rm -rf '" + m_folder + "'").c_str());
    }
    bool Ready() const { return m_ready; }

  private:
    std::string m_folder;
    pid_t m_pid = 0;
    bool m_ready = false;
};

PulseServer& Server() {
    static PulseServer server;
    return server;
}

class AlsaMixerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(Server().Ready()) << "pulseaudio did not start";
        platform::SetUiLoop(&m_loop);
        platform::SetWaveDevices(&m_devices);
        platform::SetMixerDevices(&m_mixers);
    }
    void TearDown() override {
        platform::SetMixerDevices(nullptr);
        platform::SetWaveDevices(nullptr);
        platform::SetUiLoop(nullptr);
    }
    static int SourceVolume() {
        // "Volume: front-left: 32768 /  50% / ..." of the default source.
        std::string out = Output("pactl get-source-volume @DEFAULT_SOURCE@");
        std::size_t colon = out.find("front-left:");
        return colon == std::string::npos ? -1 : std::atoi(out.c_str() + colon + 11);
    }

    platform::CGlibUiLoop m_loop;
    platform::CAlsaWaveDevices m_devices;
    platform::CAlsaMixerDevices m_mixers;
};

TEST_F(AlsaMixerTest, TheDefaultDeviceQualifiesThroughItsCaptureVolume) {
    EXPECT_GE(m_mixers.MixerCount(), 1u);
    ASSERT_GE(m_devices.WaveInCount(), 1u);
    EXPECT_EQ(FindInputDevice(), 0u);
}

TEST_F(AlsaMixerTest, VolumeIsReadAndSetOnTheServerWithinBounds) {
    CVolumeInXXX volume(0);
    ASSERT_TRUE(volume.IsAvailable());
    EXPECT_EQ(volume.GetMinimum(), 0);
    EXPECT_EQ(volume.GetMaximum(), 65536);
    volume.SetVolume(32768);
    EXPECT_EQ(volume.GetVolume(), 32768);
    EXPECT_EQ(SourceVolume(), 32768);
    volume.SetVolume(65537);
    EXPECT_EQ(volume.GetVolume(), 32768);
}

TEST_F(AlsaMixerTest, AChangeMadeElsewhereReachesTheCallbackOnTheUiThread) {
    CVolumeInXXX volume(0);
    ASSERT_TRUE(volume.IsAvailable());
    volume.SetVolume(20000);
    m_loop.RunUntil([] { return false; }, 200);
    std::vector<int> seen;
    std::thread::id ui = std::this_thread::get_id();
    static std::thread::id s_caller;
    volume.SetNotify(
        [](int v, std::uintptr_t ctx) {
            s_caller = std::this_thread::get_id();
            reinterpret_cast<std::vector<int>*>(ctx)->push_back(v);
        },
        reinterpret_cast<std::uintptr_t>(&seen));
    // The other program changes the volume while this thread runs its loop.
    int changed = -1;
    std::thread other(
        [&] { changed = std::system("pactl set-source-volume @DEFAULT_SOURCE@ 40000"); });
    EXPECT_TRUE(m_loop.RunUntil([&] { return !seen.empty() && seen.back() == 40000; }, 3000));
    other.join();
    EXPECT_EQ(changed, 0);
    EXPECT_EQ(s_caller, ui);
}

TEST_F(AlsaMixerTest, ApplyInputSelectionSwitchesCaptureOn) {
    ASSERT_EQ(std::system("pactl set-source-mute @DEFAULT_SOURCE@ 1"), 0);
    CVolumeInXXX volume(0);
    ASSERT_TRUE(volume.IsAvailable());
    volume.ApplyInputSelection();
    EXPECT_NE(Output("pactl get-source-mute @DEFAULT_SOURCE@").find("no"), std::string::npos);
}

}  // namespace
}  // namespace vexa::testing
