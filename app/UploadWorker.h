// The upload worker: sends the recording with the request's ids to the endpoint that the
// request's type picks, then tells the dialog that the attempt is over (WM_UPLOAD_DONE).
#pragma once

#include <string>

#include "app/UploadParams.h"

namespace vexa {

// The endpoint table: the leading decimal number of type (blanks and a sign allowed) 1, 2 and 3
// pick "/Upfile_en.ashx", "/Upfile_mp.ashx" and "/Upfile_qz.ashx"; anything else "/Upfile.ashx".
const char* UploadPathForType(const std::string& type);

// The recording that uploads send: "test.mp3" in the recording files' folder.
std::string UploadFilePath();

// The worker's body. Uploads run one at a time, so a second request waits for the first; every
// call ends with one WM_UPLOAD_DONE (wParam 1) to the record's window, whatever the outcome.
// An attempt with a recording that gets no 2xx answer is kept in the outbox; one that does
// starts a resend round. Returns 1.
unsigned UploadThreadProc(UploadParams* params);

// Starts UploadThreadProc on a thread of its own with its own copy of params. The thread is
// neither kept nor joined. Should no thread be available, the dialog still gets its
// WM_UPLOAD_DONE.
void StartUploadWorker(const UploadParams& params);

// One resend round over the outbox in folder, oldest entry first, each sent as its first
// attempt was, one at a time with the live uploads. Answered entries go, others stay; damaged
// ones are moved aside. The movie is not told.
void ResendOutbox(const std::string& folder);

// Runs ResendOutbox for the state folder's outbox on a worker of its own; while a round runs, a
// further call asks for one more round instead of a second worker.
void StartOutboxResend();

// True while the resend worker is at work.
bool OutboxResendRunning();

}  // namespace vexa
