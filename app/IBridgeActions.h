// The operations of the main dialog that the movie's commands trigger. The dialog implements
// them; the command bridge calls them on the dialog's thread while it handles a movie call.
#pragma once

#include "app/UploadParams.h"
#include "platform/core/UiLoop.h"

namespace vexa {

// 1 while the window has its windowed layout, 0 in full screen (initially 0). Owned by the
// dialog's window-mode code; "getWinSize" reads it to toggle the layout.
extern int g_windowed;

class IBridgeActions {
  public:
    virtual ~IBridgeActions() = default;
    // Switches to the full-screen layout when fullScreen is true, else to the windowed one.
    virtual void SetWindowMode(bool fullScreen) = 0;
    // Ends the dialog as its OK button would, which ends the program.
    virtual void OnOK() = 0;
    // DeleteFolderTree on the data folder: the folder goes with everything in it.
    virtual void DeleteDataFolder() = 0;
    // The recording sequences: start capturing into the outputs, and stop.
    virtual void RecStart() = 0;
    virtual void RecStop() = 0;
    // Play of the recorder: plays the last recording.
    virtual void PlayRecording() = 0;
    // The dialog window that is to receive WM_UPLOAD_DONE.
    virtual platform::WindowHandle GetDialogWindow() = 0;
    // Starts one upload worker (UploadThreadProc) on its own copy of the record, so a later
    // request cannot change an upload that is already running.
    virtual void StartUpload(const UploadParams& params) = 0;
    // Numbers of playback (wave-out) and recording (wave-in) devices.
    virtual unsigned WaveOutDeviceCount() = 0;
    virtual unsigned WaveInDeviceCount() = 0;
};

}  // namespace vexa
