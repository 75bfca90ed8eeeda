// Five seconds of speech recorded through ALSA and the paced test device, as the program records:
// WAV and MP3 at once, on the real UI loop.
#include <gtest/gtest.h>

#include "audio/CAudioPlayRec.h"
#include "platform/alsa/CAlsaWaveDevices.h"
#include "platform/dynlib/DynamicLibrary.h"
#include "platform/glib/CGlibUiLoop.h"
#include "tests/audio/engine/AlsaFixture.h"
#include "tests/audio/mp3/Mp3TestSupport.h"
#include "tests/fakes/CRecordingMessageBox.h"

namespace vexa::testing {
namespace {

TEST(Mp3Alsa, FiveSecondsOfSpeechGiveAnMp3ThatDecodesToTheWav) {
    const PacedDevice& device = SetUpPacedDevice();
    ASSERT_FALSE(device.folder.empty()) << "espeak-ng, sox or the paced device is missing";
    platform::CGlibUiLoop loop;
    platform::SetUiLoop(&loop);
    platform::CAlsaWaveDevices devices;
    platform::SetWaveDevices(&devices);
    platform::SetDynamicLibraryFolder(LAME_ENC_DIR);
    CRecordingMessageBox boxes;
    {
        CAudioPlayRec engine;
        ASSERT_TRUE(engine.Create(0, 0, nullptr));
        ASSERT_TRUE(engine.StartRecording(0));
        ASSERT_TRUE(engine.OpenOutput(0, "test.wav"));
        ASSERT_TRUE(engine.OpenOutput(0, "test.mp3"));
        std::uint64_t end = loop.NowMs() + 5000;
        loop.RunUntil([&] { return loop.NowMs() >= end; }, 6000);
        engine.Stop();
        EXPECT_TRUE(loop.RunUntil([&] { return engine.GetState() == CAudioPlayRec::Ready; }, 3000));
    }
    platform::SetDynamicLibraryFolder("");
    platform::SetWaveDevices(nullptr);
    platform::SetUiLoop(nullptr);
    EXPECT_TRUE(boxes.Texts().empty()) << boxes.Texts().front();

    std::string mp3 = CAudioPlayRec::RecordingPath("test.mp3");
    std::string wav = CAudioPlayRec::RecordingPath("test.wav");
    auto kind = CommandOutput("file -b '" + mp3 + "'");
    ASSERT_TRUE(kind.has_value());
    EXPECT_NE(kind->find("MPEG ADTS, layer III, v2"), std::string::npos) << *kind;
    EXPECT_NE(kind->find("22.05 kHz"), std::string::npos) << *kind;
    EXPECT_NE(kind->find("Monaural"), std::string::npos) << *kind;

    std::vector<std::int16_t> recorded = ReadWavSamples(wav);
    // About five seconds: the device keeps its pace.
    EXPECT_GT(recorded.size(), 22050u * 45 / 10);
    EXPECT_LT(recorded.size(), 22050u * 6);
    std::string decodedPath = device.folder + "/decoded.wav";
    ASSERT_TRUE(DecodeMp3(mp3, decodedPath));
    std::vector<std::int16_t> decoded = ReadWavSamples(decodedPath);
    EXPECT_GE(decoded.size(), recorded.size());
    EXPECT_LE(decoded.size(), recorded.size() + 576u);
    EXPECT_GT(Correlation(decoded, recorded), 0.95);
}

}  // namespace
}  // namespace vexa::testing
