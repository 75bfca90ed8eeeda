#include "audio/CAudioPlayRec.h"
#include "audio/CVolumeInXXX.h"
#include "tests/audio/engine/EngineFixture.h"
#include "tests/fakes/CFakeMixer.h"

namespace vexa::testing {
namespace {

using platform::MIXERCONTROL_CONTROLF_DISABLED;

class VolumeTest : public ::testing::Test {
  protected:
    CTestUiLoop m_loop;
    CSimWaveDevices m_devices;
    CFakeMixer m_mixers;
};

TEST_F(VolumeTest, FindInputDeviceTakesTheFirstDeviceWithAnEnabledVolumeControl) {
    m_devices.inCount = 5;
    CFakeMixer::Mixer noSources = CFakeMixer::Standard();
    noSources.sources.clear();
    CFakeMixer::Mixer noVolume = CFakeMixer::Standard();
    noVolume.volumeOf.clear();
    CFakeMixer::Mixer disabled = CFakeMixer::Standard();
    disabled.volumeOf.begin()->second.fdwControl |= MIXERCONTROL_CONTROLF_DISABLED;
    CFakeMixer::Mixer noDestination = CFakeMixer::Standard();
    noDestination.hasDestination = false;
    m_mixers.mixers = {noSources, noVolume, disabled, noDestination, CFakeMixer::Standard()};
    EXPECT_EQ(FindInputDevice(), 4u);
    // Every probe released its mixer and device.
    EXPECT_EQ(m_mixers.openMixers, 0);
    EXPECT_EQ(m_devices.openIn, 0);
    EXPECT_EQ(g_pVolumeIn, nullptr);

    // Device 1 shares the good mixer: the lower number wins.
    m_devices.mixerOf[1] = 4;
    EXPECT_EQ(FindInputDevice(), 1u);
    m_devices.noMixer = {1};
    EXPECT_EQ(FindInputDevice(), 4u);
}

TEST_F(VolumeTest, WithoutAQualifyingDeviceTheMapperIsChosen) {
    m_devices.inCount = 2;
    EXPECT_EQ(FindInputDevice(), platform::WAVE_MAPPER);  // no mixer at all
    CFakeMixer::Mixer broken = CFakeMixer::Standard();
    broken.failOpen = true;
    m_mixers.mixers = {broken, broken};
    EXPECT_EQ(FindInputDevice(), platform::WAVE_MAPPER);
    m_mixers.mixers = {CFakeMixer::Standard(), CFakeMixer::Standard()};
    m_devices.Fail("in.open", platform::MMSYSERR_ALLOCATED, 0, -1);
    EXPECT_EQ(FindInputDevice(), platform::WAVE_MAPPER);
}

TEST_F(VolumeTest, VolumeIsReadAndSetWithinTheControlsBounds) {
    CFakeMixer::Mixer m = CFakeMixer::Standard();
    m.volumeOf.begin()->second.dwMinimum = 100;
    m.volumeOf.begin()->second.dwMaximum = 200;
    m.volumeOf.begin()->second.cSteps = 101;
    m.values[10] = {150, 160};
    m_mixers.mixers = {m};
    CVolumeInXXX volume(0);
    ASSERT_TRUE(volume.IsAvailable());
    EXPECT_EQ(volume.GetMinimum(), 100);
    EXPECT_EQ(volume.GetMaximum(), 200);
    EXPECT_EQ(volume.GetSteps(), 101);
    EXPECT_EQ(volume.GetVolume(), 150);
    volume.SetVolume(99);
    volume.SetVolume(201);
    volume.SetVolume(0xFFFFFFFFu);
    EXPECT_TRUE(m_mixers.setCalls.empty());
    volume.SetVolume(200);
    ASSERT_EQ(m_mixers.setCalls.size(), 1u);
    EXPECT_EQ(m_mixers.setCalls[0].control, 10u);
    EXPECT_EQ(m_mixers.setCalls[0].values, (std::vector<std::uint32_t>{200, 200}));
    EXPECT_EQ(volume.GetVolume(), 200);
}

TEST_F(VolumeTest, AnUnavailableDeviceAnswersMinusOneAndChangesNothing) {
    CFakeMixer::Mixer m = CFakeMixer::Standard();
    m.volumeOf.begin()->second.fdwControl |= MIXERCONTROL_CONTROLF_DISABLED;
    m_mixers.mixers = {m};
    CVolumeInXXX volume(0);
    EXPECT_FALSE(volume.IsAvailable());
    EXPECT_EQ(volume.GetVolume(), -1);
    EXPECT_EQ(volume.GetSteps(), -1);
    EXPECT_EQ(volume.GetMinimum(), -1);
    EXPECT_EQ(volume.GetMaximum(), -1);
    volume.SetVolume(10);
    volume.ApplyInputSelection();
    EXPECT_TRUE(m_mixers.setCalls.empty());
}

TEST_F(VolumeTest, OnlyChangesOfTheVolumeControlReachTheCallback) {
    m_mixers.mixers = {CFakeMixer::Standard()};
    CVolumeInXXX volume(0);
    ASSERT_TRUE(volume.IsAvailable());
    std::vector<int> seen;
    volume.SetNotify(
        [](int v, std::uintptr_t ctx) { reinterpret_cast<std::vector<int>*>(ctx)->push_back(v); },
        reinterpret_cast<std::uintptr_t>(&seen));
    m_mixers.ChangeControl(0, 20, {1, 1});
    m_mixers.ChangeControl(0, 10, {1234, 1234});
    m_loop.RunPending();
    EXPECT_EQ(seen, std::vector<int>{1234});
}

TEST_F(VolumeTest, ApplyInputSelectionSelectsTheFirstItemAndSetsEverySwitch) {
    m_mixers.mixers = {CFakeMixer::Standard()};
    CVolumeInXXX volume(0);
    volume.ApplyInputSelection();
    ASSERT_EQ(m_mixers.setCalls.size(), 2u);
    // The mute switch is per channel of the destination (not uniform).
    EXPECT_EQ(m_mixers.setCalls[0].control, 20u);
    EXPECT_EQ(m_mixers.setCalls[0].values, (std::vector<std::uint32_t>{1, 1}));
    // The uniform selector: item 0 on, all others off.
    EXPECT_EQ(m_mixers.setCalls[1].control, 21u);
    EXPECT_EQ(m_mixers.setCalls[1].items, 4u);
    EXPECT_EQ(m_mixers.setCalls[1].values, (std::vector<std::uint32_t>{1, 0, 0, 0}));
}

TEST_F(VolumeTest, ASecondInstanceTakesTheNotificationsOver) {
    m_mixers.mixers = {CFakeMixer::Standard()};
    auto first = std::make_unique<CVolumeInXXX>(0);
    auto second = std::make_unique<CVolumeInXXX>(0);
    EXPECT_EQ(g_pVolumeIn, second.get());
    first.reset();
    EXPECT_EQ(g_pVolumeIn, nullptr);
}

}  // namespace
}  // namespace vexa::testing
