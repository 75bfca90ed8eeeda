#include "app/UploadWorker.h"

#include <chrono>
#include <climits>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "net/Request.h"
#include "platform/core/Paths.h"
#include "platform/core/UiLoop.h"

namespace vexa {
namespace {

// The upload data is one shared object; holding this for a whole upload keeps a second worker
// from rebuilding it under the first one's transfer. Never destroyed: workers may still run at
// exit.
std::mutex& UploadLock() {
    static std::mutex& lock = *new std::mutex;
    return lock;
}

// Like atoi, but a number too large for an int saturates instead of being undefined.
long long LeadingNumber(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX) {
            value = static_cast<long long>(INT_MAX) + 1;
            break;
        }
    }
    return negative ? -value : value;
}

void NotifyDone(platform::WindowHandle window) {
    // The program does not wait for an upload: it may have ended its loop already.
    platform::PostToUiLoop(window, WM_UPLOAD_DONE, 1, 0);
}

}  // namespace

const char* UploadPathForType(const std::string& type) {
    switch (LeadingNumber(type)) {
        case 1:
            return "/Upfile_en.ashx";
        case 2:
            return "/Upfile_mp.ashx";
        case 3:
            return "/Upfile_qz.ashx";
        default:
            return "/Upfile.ashx";
    }
}

std::string UploadFilePath() {
    return platform::StateFolder() + "/test.mp3";
}

unsigned UploadThreadProc(UploadParams* params) {
    UploadParams record = *params;
    {
        std::lock_guard<std::mutex> guard(UploadLock());
        g_request.SetServer(UploadPathForType(record.type));
        g_request.Reset();
        g_request.AddField("uid", record.uid);
        g_request.AddField("tid", record.tid);
        g_request.AddFile(UploadFilePath(), "txtfile");
        g_request.Send();  // the movie hears of every attempt alike
    }
    // Keeps the end of the network exchange apart from the notification.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    NotifyDone(record.hWnd);
    return 1;
}

void StartUploadWorker(const UploadParams& params) {
    auto copy = std::make_unique<UploadParams>(params);
    platform::WindowHandle window = params.hWnd;
    try {
        std::thread([record = std::move(copy)]() mutable {
            UploadThreadProc(record.get());
        }).detach();
    } catch (const std::system_error&) {
        NotifyDone(window);
    }
}

}  // namespace vexa
