#include "app/CFlashBridge.h"

#include <array>
#include <string_view>
#include <utility>

#include "xml/Tavix.h"

namespace vexa {

int g_windowed = 0;

namespace {

const char* const kAnswerClient = "<string>client</string>";
const char* const kAnswerYes = "<string>1</string>";
const char* const kAnswerNo = "<string>0</string>";

enum class Command {
    CloseWinExe,
    LocalFileClear,
    RecStart,
    RecStop,
    GetWelcome,
    GetOSVersion,
    GetWinSize,
    GetClient,
    TestWave,
    RunRecognize,
    RecoWord,
    PlayFile,
};

struct TextCommand {
    std::string_view word;
    Command command;
};

// In decision order: the first word the function name contains wins.
constexpr std::array<TextCommand, 12> kTextCommands = {{
    {"CloseWinExe", Command::CloseWinExe},
    {"LocalFileClear", Command::LocalFileClear},
    {"RecStart", Command::RecStart},
    {"RecStop", Command::RecStop},
    {"getWelcome", Command::GetWelcome},
    {"getOSVersion", Command::GetOSVersion},
    {"getWinSize", Command::GetWinSize},
    {"getClient", Command::GetClient},
    {"test_wave", Command::TestWave},
    {"run_recognize", Command::RunRecognize},
    {"reco_word", Command::RecoWord},
    {"play_file", Command::PlayFile},
}};

std::string ArgumentMarkup(const Tavix::CXmlDocument& doc, const char* xpath) {
    const Tavix::CXmlNodePtr node = doc.SelectSingleNode(xpath);
    return node ? node->GetInnerXml() : std::string();
}

}  // namespace

CFlashBridge::CFlashBridge(IFlashControl& control, IBridgeActions& actions,
                           OSVersionQuery versionQuery)
    : m_control(control), m_actions(actions), m_versionQuery(std::move(versionQuery)) {}

void CFlashBridge::OnFlashCall(const std::string& request) {
    // A NUL byte cannot occur in a well-formed document; the parser would only see the text
    // before it, which must not decide anything on its own.
    if (request.find('\0') != std::string::npos) {
        return;
    }
    Tavix::CXmlDocument doc;
    if (!doc.LoadXml(request.c_str())) {
        return;
    }
    const Tavix::CXmlNodePtr root = doc.GetRoot();
    const std::string name = root ? root->GetAttribute("name", nullptr) : std::string();

    if (name == "RecUpload") {
        g_uploadParams.uid = ArgumentMarkup(doc, "//invoke/arguments/array/property[@id=0]/string");
        g_uploadParams.tid = ArgumentMarkup(doc, "//invoke/arguments/array/property[@id=1]/string");
        const Tavix::CXmlNodePtr type =
            doc.SelectSingleNode("//invoke/arguments/array/property[@id=2]/string");
        g_uploadParams.type = (type && !type->IsNull()) ? type->GetInnerXml() : std::string("0");
        g_uploadParams.hWnd = m_actions.GetDialogWindow();
        m_actions.StartUpload(g_uploadParams);
        return;
    }
    if (name == "PlayLuYin") {
        m_actions.PlayRecording();
        return;
    }

    // Only the function name is searched: a command word inside an argument must not select a
    // command (an argument could otherwise wipe the data folder or end the program).
    for (const TextCommand& entry : kTextCommands) {
        if (name.find(entry.word) == std::string::npos) {
            continue;
        }
        switch (entry.command) {
            case Command::CloseWinExe:
                m_actions.OnOK();
                break;
            case Command::LocalFileClear:
                m_actions.DeleteDataFolder();
                break;
            case Command::RecStart:
                m_actions.RecStart();
                break;
            case Command::RecStop:
                m_actions.RecStop();
                break;
            case Command::GetWelcome:
            case Command::GetClient:
                m_control.SetReturnValue(kAnswerClient);
                break;
            case Command::GetOSVersion:
                m_control.SetReturnValue("<string>" + GetOSVersionName(m_versionQuery) +
                                         "</string>");
                break;
            case Command::GetWinSize:
                m_actions.SetWindowMode(g_windowed != 0);
                break;
            case Command::TestWave:
                m_control.SetReturnValue(m_actions.WaveOutDeviceCount() > 0 ? kAnswerYes
                                                                            : kAnswerNo);
                break;
            case Command::RunRecognize:
                m_control.SetReturnValue(m_actions.WaveInDeviceCount() > 0 ? kAnswerYes
                                                                           : kAnswerNo);
                break;
            case Command::RecoWord:
            case Command::PlayFile:
                break;  // known to the movie; the host has nothing to do
        }
        return;
    }
}

void CFlashBridge::OnFSCommand(const std::string& /*command*/, const std::string& /*args*/) {}

std::string CFlashBridge::CallMovieFunction(const std::string& name, const std::string& argument) {
    const std::string request = "<invoke name='" + name + "' returntype='xml'><arguments><string>" +
                                argument + "</string></arguments></invoke>";
    return m_control.CallFunction(request);
}

std::intptr_t CFlashBridge::OnUploadDone(std::uintptr_t wParam, std::intptr_t /*lParam*/) {
    if (wParam == 1) {
        CallMovieFunction("UPOK", "");
    }
    return 0;
}

}  // namespace vexa
