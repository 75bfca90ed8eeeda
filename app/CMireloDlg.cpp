#include "app/CMireloDlg.h"

#include <cstdio>
#include <mutex>
#include <utility>

#include "BuildConfig.h"
#include "app/AppFolders.h"
#include "app/CAboutDlg.h"
#include "app/ContentUpkeep.h"
#include "app/UploadWorker.h"
#include "platform/audio/IWaveDevices.h"
#include "platform/core/MessageBox.h"
#include "server/ContentSite.h"
#include "server/PortProbe.h"

namespace vexa {

const char* const kLoadingText = "载入资源中,请稍后";
const char* const kRecorderInitFailed = "录音设备初始化失败,部分功能无法使用!";

namespace {

// The server's first port to try.
constexpr int kServerPort = 9898;

std::string ServerOrigin(int port) {
    return "http://127.0.0.1:" + std::to_string(port) + "/";
}

// The template's place of the player control (215, 0, 13 x 15 dialog units).
constexpr int kTemplateFlashX = 322;
constexpr int kTemplateFlashY = 0;
constexpr int kTemplateFlashWidth = 20;
constexpr int kTemplateFlashHeight = 24;

}  // namespace

// What a download worker needs to reach the dialog: its window while the dialog lives.
struct CMireloDlg::SWorkerLink {
    std::mutex lock;
    platform::WindowHandle window = 0;  // 0 once the dialog is gone
};

CMireloDlg::CMireloDlg(Platform platform)
    : m_platform(std::move(platform)),
      m_iconName("vexa"),
      m_flash(m_platform.createMovieView),
      m_bridge(m_flash, *this) {
    m_flash.SetEventSink([this](const std::string& request) { OnFlashCall(request); },
                         [this](const std::string& command, const std::string& args) {
                             OnFSCommand(command, args);
                         });
}

CMireloDlg::~CMireloDlg() {
    CutWorkerLink();
    if (m_hWnd != 0) platform::UiLoop().RemoveTarget(m_hWnd);
}

void CMireloDlg::Trace(const std::string& line) {
    if (m_trace) m_trace(line);
}

int CMireloDlg::DoModal() {
    if (!m_platform.createWindow) return -1;
    m_window = m_platform.createWindow();
    if (!m_window) return -1;
    m_window->SetEvents(this);
    m_hWnd = platform::UiLoop().AddTarget(this);
    m_ended = false;
    OnInitDialog();
    int result = m_window->RunModal();
    Trace("dialog ended with " + std::to_string(result));
    CutWorkerLink();
    // The window stays (hidden) until the members that live in it are gone.
    platform::UiLoop().RemoveTarget(m_hWnd);
    m_hWnd = 0;
    return result;
}

bool CMireloDlg::OnInitDialog() {
    // The template's controls: the player and the loading text.
    m_window->SetLoadingText(kLoadingText);
    m_window->ShowLoadingText(true);
    m_flash.Create(*m_window, kTemplateFlashX, kTemplateFlashY, kTemplateFlashWidth,
                   kTemplateFlashHeight, IDC_SHOCKWAVEFLASH1);
    // The player starts now, while the rest comes up, on the origin of the port the server is
    // going to take: only the movie itself waits for the upkeep.
    m_preparedPort = FindFreePort(kServerPort);
    if (m_preparedPort > 0) m_flash.PreparePlayer(ServerOrigin(m_preparedPort));
    Trace("init: player started");
    m_window->SetTitle(std::string(VEXA_PRODUCT_NAME) + " " + VEXA_VERSION + " - www.quinbery.com");
    m_window->SetIconName(m_iconName);
    platform::UiLoop().SetTimer(m_hWnd, IDT_STARTUP, 100);

    std::uint32_t device = FindInputDevice();
    if (!m_recorder.Create(device, m_hWnd, this)) {
        platform::ShowMessageBox(kRecorderInitFailed);
    }
    Trace("init: recorder created");
    // The player is the first control that takes the focus, so keys reach the movie.
    m_flash.SetFocus();
    return true;
}

void CMireloDlg::CutWorkerLink() {
    if (!m_workerLink) return;
    std::lock_guard<std::mutex> guard(m_workerLink->lock);
    m_workerLink->window = 0;
}

void CMireloDlg::RunStartup() {
    m_dataFolder = FixBaseFolders();
    Trace("startup: folders " + g_exeFolder + " " + m_dataFolder);

    // From the port the player was started on, the first free one a moment ago, so that the
    // two meet unless something took it in between.
    m_server.Start(m_dataFolder, "INDEX.HTML", m_preparedPort > 0 ? m_preparedPort : kServerPort,
                   20000);
    Trace("startup: server on port " + std::to_string(m_server.GetPort()));
    // Another program took that port meanwhile: the player starts again on the server's own.
    if (m_server.GetPort() != m_preparedPort) {
        m_preparedPort = m_server.GetPort();
        m_flash.PreparePlayer(ServerOrigin(m_preparedPort));
    }

    // The download runs on a worker so that the window keeps answering. With a copy from an
    // earlier run the wait is short: a site that does not answer must not hold it hostage.
    bool haveCopy = HasLocalConfiguration(m_dataFolder);
    m_workerLink = std::make_shared<SWorkerLink>();
    m_workerLink->window = m_hWnd;
    std::shared_ptr<SWorkerLink> link = m_workerLink;
    bool started = StartConfigurationDownload(
        m_dataFolder, ContentSiteBaseUrl(), m_server.SiteOutage(), [link](DownloadResult result) {
            // Held while posting, so the dialog (and the loop after it) cannot go meanwhile.
            std::lock_guard<std::mutex> guard(link->lock);
            if (link->window != 0)
                platform::PostToUiLoop(link->window, WM_CONFIG_DOWNLOADED,
                                       static_cast<std::uintptr_t>(result), 0);
        });
    if (!started) {
        m_server.SiteOutage()->Note(DownloadConfiguration(m_dataFolder, ContentSiteBaseUrl()));
        FinishStartup();
        return;
    }
    m_startup = StartupStage::kDownloading;
    Trace("startup: downloading the configuration");
    if (haveCopy) platform::UiLoop().SetTimer(m_hWnd, IDT_CONFIG_WAIT, kConfigDownloadWaitMs);
}

void CMireloDlg::FinishStartup() {
    m_startup = StartupStage::kDone;
    bool goOn = ApplyConfiguration(m_dataFolder);
    Trace(std::string("startup: content upkeep ") + (goOn ? "done" : "failed"));
    if (goOn) {
        m_window->ShowLoadingText(false);
        Trace("startup: loading text hidden");

        char url[64];
        std::snprintf(url, sizeof url, "http://127.0.0.1:%d/vexa.swf", m_server.GetPort());
        m_flash.LoadMovie(0, url);
        m_flash.Play();
        Trace(std::string("startup: movie loaded from ") + url);

        StartOutboxResend();  // recordings that earlier runs could not upload

        if (StartEncoderDownloadIfMissing()) Trace("startup: fetching the encoder library");
    }
    SetWindowMode(g_windowed != 0);
}

void CMireloDlg::SetWindowMode(bool fullScreen) {
    if (!m_window) return;
    platform::ScreenMetrics screen = m_window->GetScreenMetrics();
    if (fullScreen) {
        g_windowed = 0;
        // What is left of the frame without the caption goes past the screen's edges, so the
        // client area, and the movie in it, is the whole screen.
        m_window->SetCaption(false);
        m_window->MoveWindow(-screen.borderWidth, -screen.borderHeight, screen.width,
                             screen.height);
        m_flash.MoveWindow(0, 0, screen.width, screen.height);
        m_flash.ShowWindow();
        Trace("layout: full screen " + std::to_string(screen.width) + "x" +
              std::to_string(screen.height));
    } else {
        g_windowed = 1;
        // Centred by the outer size of the framed window; the client area is the movie's, so
        // no bare window shows beside or below it.
        m_window->SetCaption(true);
        m_window->MoveWindow((screen.width - kWindowedWidth) / 2,
                             (screen.height - kWindowedHeight) / 2, kMovieWidth, kMovieHeight);
        m_flash.MoveWindow(0, 0, kMovieWidth, kMovieHeight);
        m_flash.ShowWindow();
        Trace("layout: windowed");
    }
    // A new layout must not leave the keys with the window instead of the movie.
    m_flash.SetFocus();
}

void CMireloDlg::OnMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) {
    switch (msg) {
        case platform::WM_TIMER:
            if (wParam == IDT_STARTUP) {
                platform::UiLoop().KillTimer(m_hWnd, IDT_STARTUP);
                if (m_startup == StartupStage::kNotStarted) RunStartup();
            } else if (wParam == IDT_CONFIG_WAIT) {
                platform::UiLoop().KillTimer(m_hWnd, IDT_CONFIG_WAIT);
                if (m_startup == StartupStage::kDownloading && !m_ended) {
                    // As after a failed download; the site counts as not answering, so the
                    // movie's first requests do not wait on it either.
                    m_server.SiteOutage()->NoteNoAnswer();
                    Trace("startup: no configuration in time, going on with the local copy");
                    FinishStartup();
                }
            }
            break;
        case WM_CONFIG_DOWNLOADED:
            if (m_startup == StartupStage::kDownloading && !m_ended) {
                platform::UiLoop().KillTimer(m_hWnd, IDT_CONFIG_WAIT);
                Trace(static_cast<DownloadResult>(wParam) == DownloadResult::kStored
                          ? "startup: configuration downloaded"
                          : "startup: configuration not downloaded");
                FinishStartup();
            }
            break;
        case WM_UPLOAD_DONE:
            OnUploadDone(wParam, lParam);
            break;
        case platform::WM_CLOSE:
            OnClose();
            break;
        default:
            break;
    }
}

void CMireloDlg::OnCloseRequest() {
    OnClose();
}

void CMireloDlg::OnClose() {
    Trace("closing: stopping the server");
    m_server.Stop();
    EndDialog(IDCANCEL);
}

void CMireloDlg::OnOK() {
    EndDialog(IDOK);
}

void CMireloDlg::EndDialog(int result) {
    if (m_ended || !m_window) return;
    m_ended = true;
    m_window->EndModal(result);
}

void CMireloDlg::OnAboutRequest() {
    if (!m_window) return;
    CAboutDlg::DoModal(*m_window);
    m_flash.SetFocus();
}

bool CMireloDlg::OnKeyDown(unsigned virtualKey, bool childHasFocus) {
    // Enter goes on to the movie when it has the focus.
    bool toMovie = childHasFocus && virtualKey == platform::VK_RETURN;
    // Neither key may end the dialog.
    bool dropped =
        !toMovie && (virtualKey == platform::VK_ESCAPE || virtualKey == platform::VK_RETURN);
    Trace("key " + std::to_string(virtualKey) +
          (toMovie   ? " to the movie"
           : dropped ? " dropped"
                     : ""));
    return dropped;
}

void CMireloDlg::DeleteDataFolder() {
    LocalFileClear(m_dataFolder);
}

bool CMireloDlg::OpenRecordingOutputs(const std::string& extension) {
    if (m_recorder.GetState() != CAudioPlayRec::Recording) return false;
    return m_recorder.OpenOutput(0, "test." + extension);
}

void CMireloDlg::RecStart() {
    bool alreadyRecording = m_recorder.GetState() == CAudioPlayRec::Recording;
    if (!m_recorder.StartRecording(m_channelMode)) return;
    // A recording answers one task: should its MP3 not come about, an upload must not send the
    // previous recording's file in its place. A capture already running keeps its own.
    if (!alreadyRecording) std::remove(CAudioPlayRec::RecordingPath("test.mp3").c_str());
    OpenRecordingOutputs("wav");
    OpenRecordingOutputs("mp3");
}

void CMireloDlg::RecStop() {
    m_recorder.Stop();
}

void CMireloDlg::PlayRecording() {
    m_recorder.Play();
}

void CMireloDlg::StartUpload(const UploadParams& params) {
    StartUploadWorker(params);
}

unsigned CMireloDlg::WaveOutDeviceCount() {
    return platform::WaveDevices().WaveOutCount();
}

unsigned CMireloDlg::WaveInDeviceCount() {
    return platform::WaveDevices().WaveInCount();
}

void CMireloDlg::OnFlashCall(const std::string& request) {
    if (!m_movieCalled) {
        m_movieCalled = true;
        Trace("movie: first call");
    }
    m_bridge.OnFlashCall(request);
}

void CMireloDlg::OnFSCommand(const std::string& command, const std::string& args) {
    m_bridge.OnFSCommand(command, args);
}

std::intptr_t CMireloDlg::OnUploadDone(std::uintptr_t wParam, std::intptr_t lParam) {
    return m_bridge.OnUploadDone(wParam, lParam);
}

}  // namespace vexa
