// Plays arbitrary bytes as the recording "test.wav" through the engine on simulated devices, and
// walks the same bytes chunk by chunk with the RIFF reader. Whatever the file says, playback
// ends or is stopped, plays only bytes of the file, and the chunk walk only ever moves forward.
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "audio/CAudioPlayRec.h"
#include "audio/CRiffFile.h"
#include "fuzz/FuzzSupport.h"
#include "platform/core/MessageBox.h"
#include "tests/fakes/CSimWaveDevice.h"
#include "tests/fakes/CTestUiLoop.h"

namespace {

using vexa::fuzz::Require;

// The engine pauses in real time while a device closes; on the simulated clock that is wasted,
// so this thread's sleeps return at once. libFuzzer's own threads sleep as usual.
thread_local bool t_skipSleeps = false;

class CSilentBoxes : public vexa::platform::IMessageBox {
  public:
    void Show(const std::string&, const std::string&) override {}
};

const std::string& WavPath() {
    static const std::string path = [] {
        setenv("XDG_STATE_HOME", vexa::fuzz::ScratchFolder().c_str(), 1);
        static CSilentBoxes boxes;
        vexa::platform::SetMessageBoxService(&boxes);
        return vexa::CAudioPlayRec::RecordingPath("test.wav");
    }();
    return path;
}

void WalkChunks(const std::string& path) {
    vexa::CRiffFile file;
    Require(file.Open(path, vexa::CRiffFile::Mode::Read), "open for the walk");
    vexa::RiffChunk riff;
    riff.fccType = vexa::FOURCC_WAVE;
    const vexa::RiffChunk* parent = nullptr;
    if (file.Descend(riff, nullptr, vexa::CRiffFile::Find::Riff)) parent = &riff;
    std::int64_t last = file.Tell();
    for (int steps = 0; steps < 1000; ++steps) {
        vexa::RiffChunk chunk;
        if (!file.Descend(chunk, parent, vexa::CRiffFile::Find::None)) break;
        char body[64];
        Require(file.Read(body, sizeof body) >= 0, "chunk read");
        if (!file.Ascend(chunk)) break;
        std::int64_t now = file.Tell();
        Require(now > last, "the walk moves forward");
        last = now;
    }
}

}  // namespace

extern "C" int nanosleep(const struct timespec* request, struct timespec* remaining) {
    if (t_skipSleeps) return 0;
    return static_cast<int>(syscall(SYS_nanosleep, request, remaining));
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = WavPath();
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;

    t_skipSleeps = true;
    {
        vexa::testing::CTestUiLoop loop;
        vexa::testing::CSimWaveDevices devices;
        vexa::CAudioPlayRec engine;
        Require(engine.Create(0, 0, nullptr), "engine");
        if (engine.Play()) {
            // Ten simulated seconds at most; a file that lasts longer is stopped there.
            for (int tick = 0; tick < 1000 && engine.GetState() != vexa::CAudioPlayRec::Ready;
                 ++tick)
                loop.RunFor(10);
            if (engine.GetState() != vexa::CAudioPlayRec::Ready) {
                engine.Stop();
                loop.RunFor(3000);
            }
            Require(engine.GetState() == vexa::CAudioPlayRec::Ready, "playback ended");
        }
        const std::string played(devices.played.begin(), devices.played.end());
        Require(played.empty() || bytes.find(played) != std::string::npos,
                "played only bytes of the file");
        Require(devices.openOut == 0, "device closed");
    }
    t_skipSleeps = false;

    WalkChunks(path);
    return 0;
}
