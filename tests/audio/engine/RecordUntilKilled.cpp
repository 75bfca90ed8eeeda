// Records the paced device into test.wav until the process is killed (the killed-recording test).
#include "audio/CAudioPlayRec.h"
#include "platform/alsa/CAlsaWaveDevices.h"
#include "platform/glib/CGlibUiLoop.h"

int main() {
    vexa::platform::CGlibUiLoop loop;
    vexa::platform::SetUiLoop(&loop);
    vexa::platform::CAlsaWaveDevices devices;
    vexa::platform::SetWaveDevices(&devices);
    vexa::CAudioPlayRec engine;
    if (!engine.Create(0, 0, nullptr) || !engine.StartRecording(0) ||
        !engine.OpenOutput(0, "test.wav"))
        return 1;
    loop.RunUntil([] { return false; }, 60000);
    return 2;
}
