// The pending upload request: written by the command bridge, read by the upload worker.
#pragma once

#include <cstdint>
#include <string>

#include "platform/core/UiLoop.h"

namespace vexa {

// Posted by the upload worker to the dialog when an upload attempt has ended (wParam 1).
constexpr std::uint32_t WM_UPLOAD_DONE = platform::WM_USER + 100;

struct UploadParams {
    std::string uid;
    std::string tid;
    std::string type;
    platform::WindowHandle hWnd = 0;  // the dialog window that receives WM_UPLOAD_DONE
};

// The one record the bridge fills. Workers take their own copy when they start.
extern UploadParams g_uploadParams;

}  // namespace vexa
