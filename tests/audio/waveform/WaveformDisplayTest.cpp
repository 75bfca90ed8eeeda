// The engine's waveform display rendered into an offscreen area of a known size, probed at the
// pixels the trace and the background rules decide.
#include <algorithm>

#include "platform/core/Paths.h"
#include "platform/draw/CCairoFont.h"
#include "platform/draw/COffscreenScopeWindow.h"
#include "tests/audio/engine/EngineFixture.h"

// fontconfig keeps its pattern caches for the life of the process and never frees them.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace vexa::testing {
namespace {

using platform::DrawColour;
using platform::Rgb;

constexpr DrawColour kBack = Rgb(0, 0, 128);
constexpr DrawColour kTrace = Rgb(0, 255, 0);
constexpr DrawColour kFrame = Rgb(128, 64, 0);
constexpr DrawColour kLabel = Rgb(255, 255, 0);
constexpr DrawColour kName = Rgb(128, 255, 255);
constexpr DrawColour kUnpainted = 0;

// 200 x 101: the upper half ends at (101 - 2) / 2 = 49, the lower starts at (101 + 2) / 2 = 51.
class WaveformDisplay : public EngineTest {
  protected:
    WaveformDisplay() { platform::SetScopeWindows(&m_windows); }
    ~WaveformDisplay() override {
        m_engine.reset();
        platform::SetScopeWindows(nullptr);
    }
    void SetUp() override {
        CreateEngine();
        m_engine->SetBackColor(kBack);
    }
    DrawColour At(int x, int y) const { return m_windows.Last()->PixelAt(x, y); }
    bool AnyIn(int left, int top, int right, int bottom, DrawColour colour) const {
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x)
                if (At(x, y) == colour) return true;
        return false;
    }
    // Plays a mono file of the given samples: its one buffer is drawn as it is queued.
    void PlaySamples(std::uint16_t bits, const std::vector<std::uint8_t>& data) {
        std::vector<std::uint8_t> chunks;
        PutChunk(chunks, "fmt ", FormatBody(1, 8000, bits));
        PutChunk(chunks, "data", data);
        platform::StateFolder();
        WriteFileBytes(StatePath("test.wav"), RiffWave(chunks));
        ASSERT_TRUE(m_engine->Play());
    }
    // A capture whose left side holds one value and right side another.
    void HearConstant(std::int16_t left, std::int16_t right) {
        m_devices.source = [left, right](std::uint64_t offset) {
            auto v = static_cast<std::uint16_t>((offset / 2) % 2 == 0 ? left : right);
            return static_cast<std::uint8_t>(offset % 2 == 0 ? v & 0xFF : v >> 8);
        };
    }

    platform::COffscreenScopeWindows m_windows{200, 101};
};

TEST_F(WaveformDisplay, BackgroundFillsBothHalvesWithLabelsNameAndFrame) {
    EXPECT_EQ(At(100, 30), kBack);
    EXPECT_EQ(At(100, 48), kBack);
    EXPECT_EQ(At(100, 49), kUnpainted);  // the two rows between the halves stay as they were
    EXPECT_EQ(At(100, 50), kUnpainted);
    EXPECT_EQ(At(100, 51), kBack);
    EXPECT_EQ(At(0, 0), kFrame);
    EXPECT_EQ(At(199, 100), kFrame);
    EXPECT_EQ(At(0, 100), kFrame);
    EXPECT_EQ(At(199, 0), kFrame);
    EXPECT_EQ(At(1, 1), kBack);
    // "Left" and "Right" at the top left of their halves, inside the 2-pixel margin.
    EXPECT_TRUE(AnyIn(2, 2, 60, 20, kLabel));
    EXPECT_TRUE(AnyIn(2, 53, 60, 71, kLabel));
    EXPECT_FALSE(AnyIn(0, 0, 200, 2, kLabel));
    EXPECT_FALSE(AnyIn(100, 0, 200, 49, kLabel));
    // The device name at the bottom right, inside the 4-pixel margin.
    EXPECT_TRUE(AnyIn(100, 80, 196, 97, kName));
    EXPECT_FALSE(AnyIn(0, 97, 200, 101, kName));
    EXPECT_FALSE(AnyIn(0, 0, 200, 60, kName));

    m_engine->SetBackColor(Rgb(40, 0, 0));
    EXPECT_EQ(At(100, 30), Rgb(40, 0, 0));
}

TEST_F(WaveformDisplay, SixteenBitTraceRoundsTowardZeroAndStepsInSinglePrecision) {
    PlaySamples(16, {0x18, 0xFC, 0xFF, 0x7F, 0x00, 0x80});  // -1000, 32767, -32768
    // Three samples over 200 pixels: x 0, 66.67 -> 66, 133.33 -> 133.
    // Upper half t 0, b 49, middle 24: -1000 * 49 / 65535 = -0.75 goes to 0, not to -1.
    EXPECT_EQ(At(0, 24), kTrace);
    EXPECT_NE(At(0, 23), kTrace);
    EXPECT_EQ(At(66, 24 + 24), kTrace);  // 32767 * 49 / 65535 = 24.5 -> 24
    EXPECT_NE(At(67, 48), kTrace);
    // The last point (133, 24 - 24) is not painted, as with the desktop's lines.
    EXPECT_NE(At(133, 0), kTrace);
    EXPECT_FALSE(AnyIn(134, 0, 199, 49, kTrace));
    // Lower half t 51, b 101, middle 76: 32767 * 50 / 65535 = 24.99 -> 24.
    EXPECT_EQ(At(0, 76), kTrace);
    EXPECT_EQ(At(66, 76 + 24), kTrace);
    EXPECT_NE(At(133, 76 - 25), kTrace);
    m_engine->Stop();
    RunUntilReady();
}

TEST_F(WaveformDisplay, EightBitTraceStartsAtTheHalfsTop) {
    PlaySamples(8, {0, 255, 128, 64});
    // Four samples over 200 pixels: x 0, 50, 100, 150; y = t + v * (b - t) / 255.
    EXPECT_EQ(At(0, 0), kTrace);
    EXPECT_EQ(At(50, 49), kTrace);  // 255 * 49 / 255: on the row between the halves
    EXPECT_EQ(At(100, 128 * 49 / 255), kTrace);
    EXPECT_NE(At(150, 64 * 49 / 255), kTrace);
    EXPECT_EQ(At(0, 51), kTrace);
    EXPECT_EQ(At(100, 51 + 128 * 50 / 255), kTrace);
    m_engine->Stop();
    RunUntilReady();
}

TEST_F(WaveformDisplay, ChannelModeTwoTracesOnlyTheHalvesWithAnOpenOutput) {
    HearConstant(16000, -16000);
    ASSERT_TRUE(m_engine->StartRecording(2));
    ASSERT_TRUE(m_engine->OpenOutput(0, "left.wav"));
    m_loop.RunFor(300);
    const int upper = 24 + 16000 * 49 / 65535, lower = 76 - 16000 * 50 / 65535;
    EXPECT_EQ(At(100, upper), kTrace);
    EXPECT_FALSE(AnyIn(0, 51, 200, 100, kTrace));
    ASSERT_TRUE(m_engine->OpenOutput(1, "right.wav"));
    m_loop.RunFor(300);
    EXPECT_EQ(At(100, upper), kTrace);
    EXPECT_EQ(At(100, lower), kTrace);
    m_engine->Stop();
    ASSERT_TRUE(RunUntilReady());

    // Any other stereo mode traces both sides, whatever is open.
    ASSERT_TRUE(m_engine->StartRecording(1));
    m_loop.RunFor(300);
    EXPECT_EQ(At(100, upper), kTrace);
    EXPECT_EQ(At(100, lower), kTrace);
    m_engine->Stop();
    ASSERT_TRUE(RunUntilReady());
}

TEST(WaveformFonts, DesktopFamiliesGetInstalledLookalikes) {
    std::string impact = platform::CCairoFont::NearestFamily("Impact");
    EXPECT_NE(impact, "");
    // fontconfig alone would answer with a symbol font for an unknown family.
    const char* impactLike[] = {"Impact",
                                "Anton",
                                "Oswald",
                                "Nimbus Sans Narrow",
                                "Liberation Sans Narrow",
                                "DejaVu Sans Condensed",
                                "Sans"};
    EXPECT_NE(std::find(std::begin(impactLike), std::end(impactLike), impact), std::end(impactLike))
        << impact;
    EXPECT_EQ(platform::CCairoFont::NearestFamily("No Such Family Anywhere"), "Sans");
}

class HiddenWaveformDisplay : public EngineTest {
  protected:
    HiddenWaveformDisplay() { platform::SetScopeWindows(&m_windows); }
    ~HiddenWaveformDisplay() override {
        m_engine.reset();
        platform::SetScopeWindows(nullptr);
    }
    platform::COffscreenScopeWindows m_windows;  // 0 x 0, as the program's window
};

TEST_F(HiddenWaveformDisplay, ZeroSizedWindowStillDrawsEveryBuffer) {
    CreateEngine();
    ASSERT_TRUE(m_engine->StartRecording(0));
    ASSERT_TRUE(m_engine->OpenOutput(0, "test.wav"));
    int before = m_windows.Last()->Paints();
    m_loop.RunFor(1000);
    EXPECT_GE(m_windows.Last()->Paints() - before, 9);
    m_engine->Stop();
    ASSERT_TRUE(RunUntilReady());
    EXPECT_TRUE(m_boxes.Texts().empty());
}

}  // namespace
}  // namespace vexa::testing
