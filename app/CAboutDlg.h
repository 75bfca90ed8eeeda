// The about box: product name, copyright and the maker's contact lines.
#pragma once

#include <string>
#include <vector>

#include "platform/gtk/IDialogWindow.h"

namespace vexa {

class CAboutDlg {
  public:
    // The five lines the box shows, in order.
    static std::vector<std::string> Lines();
    static std::string Title();
    // Shows the box modally over the window.
    static void DoModal(platform::IDialogWindow& window);
};

}  // namespace vexa
