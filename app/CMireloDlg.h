// The program's one dialog: owns the recorder, the movie's player control and the local HTTP
// server, runs the start-up work on its first timer tick, lays the window out (windowed or full
// screen) and carries out the movie's commands for the bridge.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/CFlashBridge.h"
#include "app/CShockwaveflash1.h"
#include "app/IBridgeActions.h"
#include "audio/CAudioPlayRec.h"
#include "platform/core/UiLoop.h"
#include "platform/gtk/IDialogWindow.h"
#include "server/CHTTPServer.h"

namespace vexa {

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr std::uintptr_t IDT_STARTUP = 100005;
// The start-up's limit on waiting for the configuration download when a local copy exists.
constexpr std::uintptr_t IDT_CONFIG_WAIT = 100006;
// Posted by the configuration download worker when it ends; wParam is its DownloadResult.
constexpr std::uint32_t WM_CONFIG_DOWNLOADED = platform::WM_USER + 101;
constexpr int IDC_SHOCKWAVEFLASH1 = 1021;

// The windowed layout: the outer size of the framed window, by which it is centred, and the
// movie, which fills the window's client area.
constexpr int kWindowedWidth = 976;
constexpr int kWindowedHeight = 632;
constexpr int kMovieWidth = 970;
constexpr int kMovieHeight = 607;

extern const char* const kLoadingText;         // "载入资源中,请稍后"
extern const char* const kRecorderInitFailed;  // "录音设备初始化失败,部分功能无法使用!"

class CMireloDlg : public platform::IMessageTarget,
                   public platform::IDialogWindowEvents,
                   public IBridgeActions {
  public:
    struct Platform {
        std::function<std::unique_ptr<platform::IDialogWindow>()> createWindow;
        CShockwaveflash1::ViewFactory createMovieView;
    };
    using TraceProc = std::function<void(const std::string& line)>;

    explicit CMireloDlg(Platform platform);
    ~CMireloDlg() override;
    CMireloDlg(const CMireloDlg&) = delete;
    CMireloDlg& operator=(const CMireloDlg&) = delete;

    // Creates the window, runs it until the dialog ends and destroys it; IDOK or IDCANCEL
    // (-1 when no window could be made).
    int DoModal();
    // Progress lines of the start-up and the ending, for diagnostics.
    void SetTrace(TraceProc trace) { m_trace = std::move(trace); }

    // IMessageTarget: the start-up timer, WM_UPLOAD_DONE and WM_CLOSE.
    void OnMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) override;

    // IDialogWindowEvents.
    void OnCloseRequest() override;
    void OnAboutRequest() override;
    bool OnKeyDown(unsigned virtualKey, bool childHasFocus) override;

    // IBridgeActions.
    void SetWindowMode(bool fullScreen) override;
    void OnOK() override;
    void DeleteDataFolder() override;
    void RecStart() override;
    void RecStop() override;
    void PlayRecording() override;
    platform::WindowHandle GetDialogWindow() override { return m_hWnd; }
    void StartUpload(const UploadParams& params) override;
    unsigned WaveOutDeviceCount() override;
    unsigned WaveInDeviceCount() override;

    // The control's events.
    void OnFlashCall(const std::string& request);
    void OnFSCommand(const std::string& command, const std::string& args);
    std::intptr_t OnUploadDone(std::uintptr_t wParam, std::intptr_t lParam);

    // Opens the running recording's output of one format ("wav", "mp3").
    bool OpenRecordingOutputs(const std::string& extension);

    const std::string& DataFolder() const { return m_dataFolder; }
    // True from the first tick until the start-up steps have all run (the configuration
    // download may keep it so while the window goes on answering).
    bool IsStartupPending() const { return m_startup == StartupStage::kDownloading; }
    CHTTPServer& Server() { return m_server; }
    CShockwaveflash1& Flash() { return m_flash; }
    CAudioPlayRec& Recorder() { return m_recorder; }

  private:
    enum class StartupStage { kNotStarted, kDownloading, kDone };
    struct SWorkerLink;

    bool OnInitDialog();
    void RunStartup();
    // The steps after the configuration download, on the UI thread.
    void FinishStartup();
    // The worker may outlive the dialog; after this it posts nothing.
    void CutWorkerLink();
    void OnClose();
    void EndDialog(int result);
    void Trace(const std::string& line);

    // Members in the order they are built; destroyed in reverse.
    Platform m_platform;
    int m_channelMode = 0;
    std::string m_iconName;
    std::unique_ptr<platform::IDialogWindow> m_window;
    CAudioPlayRec m_recorder;
    CShockwaveflash1 m_flash;
    CHTTPServer m_server;
    std::string m_dataFolder;
    CFlashBridge m_bridge;
    platform::WindowHandle m_hWnd = 0;
    bool m_ended = false;
    bool m_movieCalled = false;
    StartupStage m_startup = StartupStage::kNotStarted;
    int m_preparedPort = 0;  // the port whose origin the player was started on
    std::shared_ptr<SWorkerLink> m_workerLink;
    TraceProc m_trace;
};

}  // namespace vexa
