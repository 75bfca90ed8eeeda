#include "tests/fakes/CFakeBridgeActions.h"

namespace vexa::testing {

void CFakeBridgeActions::SetWindowMode(bool fullScreen) {
    actions.push_back(fullScreen ? "SetWindowMode(1)" : "SetWindowMode(0)");
}

void CFakeBridgeActions::OnOK() {
    actions.emplace_back("OnOK");
}

void CFakeBridgeActions::DeleteDataFolder() {
    actions.emplace_back("DeleteDataFolder");
}

void CFakeBridgeActions::RecStart() {
    actions.emplace_back("RecStart");
}

void CFakeBridgeActions::RecStop() {
    actions.emplace_back("RecStop");
}

void CFakeBridgeActions::PlayRecording() {
    actions.emplace_back("PlayRecording");
}

platform::WindowHandle CFakeBridgeActions::GetDialogWindow() {
    return dialogWindow;
}

void CFakeBridgeActions::StartUpload(const UploadParams& params) {
    actions.emplace_back("StartUpload");
    uploads.push_back(params);
}

unsigned CFakeBridgeActions::WaveOutDeviceCount() {
    actions.emplace_back("WaveOutDeviceCount");
    return waveOutDevices;
}

unsigned CFakeBridgeActions::WaveInDeviceCount() {
    actions.emplace_back("WaveInDeviceCount");
    return waveInDevices;
}

}  // namespace vexa::testing
