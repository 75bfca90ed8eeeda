// Feeds arbitrary bytes to the bridge as movie requests, with recording stand-ins behind it, and
// checks that a request never does more than one command's worth of work.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "app/CFlashBridge.h"
#include "tests/fakes/CFakeBridgeActions.h"
#include "tests/fakes/CFakeFlashControl.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string request(reinterpret_cast<const char*>(data), size);
    vexa::testing::CFakeFlashControl control;
    vexa::testing::CFakeBridgeActions actions;
    // The first byte, when there is one, also picks the device counts and window mode, so the
    // answers vary with the input.
    const unsigned selector = size > 0 ? data[0] : 0;
    actions.waveOutDevices = selector & 1u;
    actions.waveInDevices = (selector >> 1) & 1u;
    vexa::g_windowed = static_cast<int>((selector >> 2) & 1u);

    vexa::CFlashBridge bridge(control, actions, [selector](vexa::OSVersionInfo& info) {
        info.dwPlatformId = selector % 3;
        info.dwMajorVersion = (selector >> 2) % 8;
        info.dwMinorVersion = selector * 7u % 100;
        return (selector & 0x80u) == 0;
    });
    bridge.OnFlashCall(request);

    static const std::set<std::string> answers = {
        "<string>client</string>", "<string>1</string>",
        "<string>0</string>",      "<string>WIN2K</string>",
        "<string>WINXP</string>",  "<string>VISTA</string>",
        "<string>WIN7</string>",   "<string>WIN98</string>",
        "<string>WINME</string>",  "<string>\xE6\x9C\xAA\xE7\x9F\xA5</string>"};
    Require(control.returnValues.size() <= 1);
    Require(control.returnValues.empty() || answers.count(control.returnValues[0]) == 1);
    Require(control.calls.empty());
    // One command at most; a device count comes with its answer.
    Require(actions.actions.size() <= 1);
    Require(actions.uploads.size() <= 1);
    if (!actions.uploads.empty()) {
        Require(actions.uploads[0].hWnd == actions.dialogWindow);
        Require(control.returnValues.empty());
    }
    return 0;
}
