#include "app/UploadWorker.h"

#include <chrono>
#include <climits>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "app/CUploadOutbox.h"
#include "net/Request.h"
#include "platform/core/Paths.h"
#include "platform/core/UiLoop.h"
#include "server/CLog.h"

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

constexpr const char* kFileField = "txtfile";

bool Answered2xx(bool sent, int status) {
    return sent && status >= 200 && status <= 299;
}

// One attempt on the shared upload data; the caller holds UploadLock. True on a 2xx answer.
bool SendOnce(const std::string& urlPath, const std::string& uid, const std::string& tid,
              const std::string& file, bool& hadFile, int& status) {
    g_request.SetServer(urlPath.c_str());
    g_request.Reset();
    g_request.AddField("uid", uid);
    g_request.AddField("tid", tid);
    g_request.AddFile(file, kFileField);
    hadFile = !g_sendData.m_files.empty();
    status = 0;
    bool sent = g_request.Send(&status);
    return Answered2xx(sent, status);
}

// At most one resend worker; a request while it runs asks it for one more round.
struct ResendState {
    std::mutex lock;
    bool running = false;
    bool again = false;
    std::string folder;
};

// Never destroyed: the worker may still run at exit.
ResendState& Resend() {
    static ResendState& state = *new ResendState;
    return state;
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
    bool delivered = false;
    {
        std::lock_guard<std::mutex> guard(UploadLock());
        const char* urlPath = UploadPathForType(record.type);
        std::string recording = UploadFilePath();
        CUploadOutbox outbox(CUploadOutbox::DefaultFolder());
        CUploadOutbox::Entry staged;
        CUploadOutbox::StageResult stage =
            outbox.Stage(urlPath, record.uid, record.tid, recording, staged);
        // The staged copy has the recording's file name, so the body is the same either way.
        bool fromCopy = stage == CUploadOutbox::StageResult::Staged;
        bool hadFile = false;
        int status = 0;
        delivered = SendOnce(urlPath, record.uid, record.tid,
                             fromCopy ? staged.filePath : recording, hadFile, status);
        if (fromCopy) {
            if (delivered)
                outbox.Discard(staged);
            else
                outbox.Keep(staged, status);
        } else if (!delivered && hadFile) {
            CLog::WriteLogLine(("Upload to " + std::string(urlPath) +
                                " failed and could not be kept in the outbox")
                                   .c_str(),
                               "Outbox", status);
        }
    }
    // The movie hears of every attempt alike; a service that answers again may take the
    // recordings it missed.
    if (delivered) StartOutboxResend();
    // Keeps the end of the network exchange apart from the notification.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    NotifyDone(record.hWnd);
    return 1;
}

void ResendOutbox(const std::string& folder) {
    CUploadOutbox outbox(folder);
    std::vector<std::string> names;
    {
        std::lock_guard<std::mutex> guard(UploadLock());
        outbox.MoveAsideUnfinished();
        outbox.ApplyBounds();
        names = outbox.List();
    }
    for (const std::string& name : names) {
        // One entry per hold of the lock, so that a live upload waits for one resend at most.
        std::lock_guard<std::mutex> guard(UploadLock());
        // The bounds may have dropped it since the round began.
        if (!outbox.Has(name)) continue;
        CUploadOutbox::Entry entry;
        std::string why;
        if (!outbox.Load(name, entry, why)) {
            outbox.MoveAside(name, why);
            continue;
        }
        bool hadFile = false;
        int status = 0;
        bool delivered =
            SendOnce(entry.urlPath, entry.uid, entry.tid, entry.filePath, hadFile, status);
        if (!hadFile) {
            outbox.MoveAside(name, "recording unreadable");
        } else if (delivered) {
            outbox.Remove(name);
            CLog::WriteLogLine(("Outbox entry " + name + " sent to " + entry.urlPath).c_str(),
                               "Outbox", status);
        } else {
            CLog::WriteLogLine(("Outbox entry " + name + " not taken, kept").c_str(), "Outbox",
                               status);
            // No answer at all: the service is out of reach, and the rest would only wait
            // for the same time-out. An answer judges this entry alone.
            if (status == 0) break;
        }
    }
}

void StartOutboxResend() {
    ResendState& state = Resend();
    {
        std::lock_guard<std::mutex> guard(state.lock);
        state.folder = CUploadOutbox::DefaultFolder();
        if (state.running) {
            state.again = true;
            return;
        }
        state.running = true;
        state.again = false;
    }
    try {
        std::thread([&state] {
            std::unique_lock<std::mutex> guard(state.lock);
            do {
                state.again = false;
                std::string folder = state.folder;
                guard.unlock();
                ResendOutbox(folder);
                guard.lock();
            } while (state.again);
            state.running = false;
        }).detach();
    } catch (const std::system_error&) {
        std::lock_guard<std::mutex> guard(state.lock);
        state.running = false;
    }
}

bool OutboxResendRunning() {
    ResendState& state = Resend();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.running;
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
