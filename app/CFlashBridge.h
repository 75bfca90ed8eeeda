// The command bridge between the movie and the host: decodes the movie's invoke requests, carries
// out the commands through the dialog's actions, answers through the control, and calls into the
// movie. The dialog owns one and forwards its control's events to it.
#pragma once

#include <cstdint>
#include <string>

#include "app/IBridgeActions.h"
#include "app/IFlashControl.h"
#include "app/OSVersion.h"

namespace vexa {

class CFlashBridge {
  public:
    // Both must outlive the bridge. The version query decides the "getOSVersion" answer.
    CFlashBridge(IFlashControl& control, IBridgeActions& actions,
                 OSVersionQuery versionQuery = QueryOSVersion);

    // The control's FlashCall event: one invoke request from the movie. An answer, if the
    // command has one, goes through SetReturnValue before this returns.
    void OnFlashCall(const std::string& request);
    // The control's FSCommand event; the movie sends nothing the host acts on.
    void OnFSCommand(const std::string& command, const std::string& args);
    // Calls the movie function name with one string argument (inserted unescaped); returns the
    // movie's reply.
    std::string CallMovieFunction(const std::string& name, const std::string& argument);
    // The dialog's handler of WM_UPLOAD_DONE: wParam 1 tells the movie "UPOK". Returns 0.
    std::intptr_t OnUploadDone(std::uintptr_t wParam, std::intptr_t lParam);

  private:
    IFlashControl& m_control;
    IBridgeActions& m_actions;
    OSVersionQuery m_versionQuery;
};

}  // namespace vexa
