// The application object: shows the main dialog modally and ends when it closes.
#pragma once

#include "app/CMireloDlg.h"

namespace vexa {

class CMireloApp {
  public:
    explicit CMireloApp(CMireloDlg::Platform platform) : m_platform(std::move(platform)) {}
    void SetTrace(CMireloDlg::TraceProc trace) { m_trace = std::move(trace); }
    // Runs the dialog; returns false, as the application has no message loop of its own.
    // result gets the dialog's end code.
    bool InitInstance(int* result = nullptr);

  private:
    CMireloDlg::Platform m_platform;
    CMireloDlg::TraceProc m_trace;
};

}  // namespace vexa
