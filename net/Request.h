// The upload operations: name the target, add simple fields and files, then send everything as
// one multipart/form-data POST. They act on one CSendData, the process's by default.
#pragma once

#include <string>

#include "net/CSendData.h"

namespace vexa {

class Request {
  public:
    explicit Request(CSendData& data = g_sendData) : m_data(data) {}
    virtual ~Request() = default;

    // Target: the configured upload host and port, and path (cut to 99 bytes).
    void SetServer(const char* path);
    // Forgets fields and files; target and boundary stay.
    void Reset();
    void AddField(const std::string& name, const std::string& value);
    // Nothing happens for a file that cannot be opened, or a path added before.
    void AddFile(const std::string& path, const std::string& fieldName);
    // True when the whole exchange ran without a transfer or file error; the reply's status
    // plays no part in it, but goes to *status when given (0 when no answer came). Call once per
    // Reset: it counts the closing section into the length.
    bool Send(int* status = nullptr);

    std::string BuildContentTypeHeader() const;
    // Also adds the section's length to the body length.
    std::string BuildClosingSection();

  private:
    CSendData& m_data;
};

// The process's upload operations, on g_sendData.
extern Request& g_request;

}  // namespace vexa
