// The run log "RunLog.log": one time-stamped line per server event (message, operation, code),
// kept in the per-user state folder and begun anew at every server start.
#pragma once

#include <string>

namespace vexa {

class CLog {
  public:
    CLog() = default;
    virtual ~CLog() = default;

    // Appends "<local time> - <message>.\t[<operation>]\t[<code>]" and CR LF (the operation part
    // left out when operation is null). 1 when the whole line was written, 0 otherwise; an empty
    // message writes nothing.
    int WriteLog(const char* message, const char* operation, int code);
    // Removes the file; a missing file is no failure.
    void DeleteLog();

    // The same line, for threads that may outlive the server object they belonged to. Every log
    // object writes one file, so one process-wide lock keeps lines whole across all of them.
    static int WriteLogLine(const char* message, const char* operation, int code);
    static std::string LogPath();
};

}  // namespace vexa
