#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CFlashBridge.h"
#include "tests/fakes/CFakeBridgeActions.h"
#include "tests/fakes/CFakeFlashControl.h"

namespace {

using vexa::CFlashBridge;
using vexa::OSVersionInfo;
using Strings = std::vector<std::string>;

std::string Invoke(const std::string& name, const std::string& arguments = "") {
    return "<invoke name=\"" + name + "\" returntype=\"xml\"><arguments>" + arguments +
           "</arguments></invoke>";
}

std::string UploadArguments(const Strings& values) {
    std::string array = "<array>";
    for (std::size_t i = 0; i < values.size(); ++i) {
        array += "<property id=\"" + std::to_string(i) + "\">" + values[i] + "</property>";
    }
    return array + "</array>";
}

class FlashBridge : public ::testing::Test {
  protected:
    void SetUp() override {
        vexa::g_windowed = 0;
        vexa::g_uploadParams = {};
    }
    void TearDown() override { vexa::g_windowed = 0; }

    vexa::testing::CFakeFlashControl control;
    vexa::testing::CFakeBridgeActions actions;
    OSVersionInfo version;  // what the platform reports to getOSVersion
    CFlashBridge bridge{control, actions, [this](OSVersionInfo& info) {
                            info = version;
                            return true;
                        }};
};

TEST_F(FlashBridge, RecUploadStartsOneWorkerWithTheArguments) {
    bridge.OnFlashCall(Invoke(
        "RecUpload",
        UploadArguments({"<string>7</string>", "<string>12</string>", "<string>2</string>"})));
    ASSERT_EQ(actions.uploads.size(), 1u);
    EXPECT_EQ(actions.uploads[0].uid, "7");
    EXPECT_EQ(actions.uploads[0].tid, "12");
    EXPECT_EQ(actions.uploads[0].type, "2");
    EXPECT_EQ(actions.uploads[0].hWnd, actions.dialogWindow);
    EXPECT_EQ(vexa::g_uploadParams.uid, "7");
    EXPECT_EQ(vexa::g_uploadParams.type, "2");
    EXPECT_EQ(actions.actions, Strings{"StartUpload"});
    EXPECT_TRUE(control.returnValues.empty());
}

TEST_F(FlashBridge, RecUploadArgumentsMissingOrEmptyOrEscaped) {
    bridge.OnFlashCall(
        Invoke("RecUpload", UploadArguments({"<string>a&amp;b</string>", "<string>12</string>"})));
    bridge.OnFlashCall(Invoke(
        "RecUpload", UploadArguments({"<string>7</string>", "<string>12</string>", "<string/>"})));
    bridge.OnFlashCall(Invoke("RecUpload"));
    ASSERT_EQ(actions.uploads.size(), 3u);
    EXPECT_EQ(actions.uploads[0].uid, "a&amp;b");  // inner markup, not decoded text
    EXPECT_EQ(actions.uploads[0].type, "0");
    EXPECT_EQ(actions.uploads[1].type, "<string/>");
    EXPECT_EQ(actions.uploads[2].uid, "");
    EXPECT_EQ(actions.uploads[2].tid, "");
    EXPECT_EQ(actions.uploads[2].type, "0");
    // The earlier worker's copy is its own; only the shared record follows the last request.
    EXPECT_EQ(vexa::g_uploadParams.uid, "");
}

TEST_F(FlashBridge, ExactCommandsAreCaseSensitive) {
    bridge.OnFlashCall(Invoke("PlayLuYin"));
    EXPECT_EQ(actions.actions, Strings{"PlayRecording"});
    actions.actions.clear();
    for (const char* near : {"recupload", "RECUPLOAD", "playluyin", "RecUpload ", "xPlayLuYin"}) {
        bridge.OnFlashCall(Invoke(near, UploadArguments({"<string>1</string>"})));
    }
    EXPECT_TRUE(actions.actions.empty());
    EXPECT_TRUE(control.returnValues.empty());
}

struct Row {
    const char* name;
    Strings actions;
    Strings answers;
};

TEST_F(FlashBridge, EveryTextCommandOfTheTable) {
    actions.waveOutDevices = 0;
    actions.waveInDevices = 1;
    const std::vector<Row> rows = {
        {"CloseWinExe", {"OnOK"}, {}},
        {"LocalFileClear", {"DeleteDataFolder"}, {}},
        {"RecStart", {"RecStart"}, {}},
        {"RecStop", {"RecStop"}, {}},
        {"getWelcome", {}, {"<string>client</string>"}},
        {"getClient", {}, {"<string>client</string>"}},
        {"test_wave", {"WaveOutDeviceCount"}, {"<string>0</string>"}},
        {"run_recognize", {"WaveInDeviceCount"}, {"<string>1</string>"}},
        {"reco_word", {}, {}},
        {"play_file", {}, {}},
        {"unknownCall", {}, {}},
    };
    for (const Row& row : rows) {
        actions.actions.clear();
        control.returnValues.clear();
        bridge.OnFlashCall(Invoke(row.name, "<string>arg</string>"));
        EXPECT_EQ(actions.actions, row.actions) << row.name;
        EXPECT_EQ(control.returnValues, row.answers) << row.name;
    }
    EXPECT_TRUE(control.calls.empty());

    actions.waveOutDevices = 2;
    actions.waveInDevices = 0;
    control.returnValues.clear();
    bridge.OnFlashCall(Invoke("test_wave"));
    bridge.OnFlashCall(Invoke("run_recognize"));
    EXPECT_EQ(control.returnValues, (Strings{"<string>1</string>", "<string>0</string>"}));
}

TEST_F(FlashBridge, GetOSVersionAnswersWithThePlatformName) {
    version.dwPlatformId = vexa::VER_PLATFORM_WIN32_NT;
    version.dwMajorVersion = 6;
    version.dwMinorVersion = 1;
    bridge.OnFlashCall(Invoke("getOSVersion"));
    version.dwMajorVersion = 5;
    version.dwMinorVersion = 0;
    bridge.OnFlashCall(Invoke("getOSVersion"));
    EXPECT_EQ(control.returnValues, (Strings{"<string>WIN7</string>", "<string>WIN2K</string>"}));

    // This build's own version source names neither family.
    vexa::testing::CFakeFlashControl realControl;
    CFlashBridge real(realControl, actions);
    real.OnFlashCall(Invoke("getOSVersion"));
    EXPECT_EQ(realControl.returnValues, Strings{"<string>\xE6\x9C\xAA\xE7\x9F\xA5</string>"});
}

TEST_F(FlashBridge, GetWinSizeTogglesByTheWindowedFlag) {
    vexa::g_windowed = 1;
    bridge.OnFlashCall(Invoke("getWinSize"));
    vexa::g_windowed = 0;
    bridge.OnFlashCall(Invoke("getWinSize"));
    EXPECT_EQ(actions.actions, (Strings{"SetWindowMode(1)", "SetWindowMode(0)"}));
    EXPECT_TRUE(control.returnValues.empty());
}

TEST_F(FlashBridge, CommandWordsInArgumentsSelectNothing) {
    bridge.OnFlashCall(Invoke("getClient", "<string>LocalFileClear</string>"));
    EXPECT_EQ(control.returnValues, Strings{"<string>client</string>"});
    EXPECT_TRUE(actions.actions.empty());  // the data folder stays

    control.returnValues.clear();
    bridge.OnFlashCall(Invoke("getWelcome", "<string>CloseWinExe RecStart</string>"));
    bridge.OnFlashCall(Invoke("reco_word", "<string>LocalFileClear</string>"));
    bridge.OnFlashCall(Invoke("noSuchCall", "<string>CloseWinExe</string>"));
    bridge.OnFlashCall("<invoke name=\"x\" note=\"CloseWinExe\"><CloseWinExe/></invoke>");
    EXPECT_EQ(control.returnValues, Strings{"<string>client</string>"});
    EXPECT_TRUE(actions.actions.empty());
}

TEST_F(FlashBridge, TextSearchRunsOverTheNameInRowOrder) {
    // The position rules of the old whole-request search do not apply to the name.
    bridge.OnFlashCall(Invoke("RecStop"));
    bridge.OnFlashCall(Invoke("my_getClient_2"));
    // Both words are in the name: the earlier row decides.
    bridge.OnFlashCall(Invoke("getClientLocalFileClear"));
    bridge.OnFlashCall(Invoke("RecStopRecStart"));
    EXPECT_EQ(actions.actions, (Strings{"RecStop", "DeleteDataFolder", "RecStart"}));
    EXPECT_EQ(control.returnValues, Strings{"<string>client</string>"});
}

TEST_F(FlashBridge, UnparsableRequestsSelectNothing) {
    const std::string nul("<invoke name=\"getClient\"/>\0<x>", 30);
    for (const std::string& bad :
         {std::string("CloseWinExe"), std::string("<invoke name=\"LocalFileClear\">"),
          std::string("xxLocalFileClear"), std::string(""), std::string("<invoke/>"),
          std::string("<invoke name='getClient'/><invoke name='CloseWinExe'/>"),
          std::string("<invoke name='getClient' name='CloseWinExe'/>"), nul}) {
        bridge.OnFlashCall(bad);
    }
    EXPECT_TRUE(actions.actions.empty());
    EXPECT_TRUE(control.returnValues.empty());
}

TEST_F(FlashBridge, UploadDoneCallsTheMovieWithUpok) {
    control.reply = "<string>ok</string>";
    EXPECT_EQ(bridge.OnUploadDone(0, 0), 0);
    EXPECT_EQ(bridge.OnUploadDone(2, 1), 0);
    EXPECT_TRUE(control.calls.empty());
    EXPECT_EQ(bridge.OnUploadDone(1, 0), 0);
    EXPECT_EQ(control.calls, Strings{"<invoke name='UPOK' returntype='xml'><arguments><string>"
                                     "</string></arguments></invoke>"});

    // The argument goes in as it is, unescaped; the movie's reply comes back.
    EXPECT_EQ(bridge.CallMovieFunction("f", "a<b>&"), "<string>ok</string>");
    EXPECT_EQ(control.calls.back(),
              "<invoke name='f' returntype='xml'><arguments><string>a<b>&</string></arguments>"
              "</invoke>");
}

TEST_F(FlashBridge, FsCommandDoesNothing) {
    bridge.OnFSCommand("CloseWinExe", "LocalFileClear");
    EXPECT_TRUE(actions.actions.empty());
    EXPECT_TRUE(control.returnValues.empty());
    EXPECT_TRUE(control.calls.empty());
}

}  // namespace
