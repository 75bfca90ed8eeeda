// A stand-in for the dialog's side of the movie's commands: records every action in order and
// keeps a copy of each upload it was asked to start.
#pragma once

#include <string>
#include <vector>

#include "app/IBridgeActions.h"

namespace vexa::testing {

class CFakeBridgeActions : public vexa::IBridgeActions {
  public:
    void SetWindowMode(bool fullScreen) override;
    void OnOK() override;
    void DeleteDataFolder() override;
    void RecStart() override;
    void RecStop() override;
    void PlayRecording() override;
    platform::WindowHandle GetDialogWindow() override;
    void StartUpload(const UploadParams& params) override;
    unsigned WaveOutDeviceCount() override;
    unsigned WaveInDeviceCount() override;

    // One entry per action, e.g. "SetWindowMode(1)", "OnOK", "StartUpload".
    std::vector<std::string> actions;
    std::vector<UploadParams> uploads;
    platform::WindowHandle dialogWindow = 7;
    unsigned waveOutDevices = 1;
    unsigned waveInDevices = 1;
};

}  // namespace vexa::testing
