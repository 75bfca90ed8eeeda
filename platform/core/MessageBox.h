// Modal message boxes with one OK button.
#pragma once

#include <string>

namespace vexa::platform {

class IMessageBox {
  public:
    virtual ~IMessageBox() = default;
    // Blocks until the user has dismissed the box. An empty caption means the default caption.
    virtual void Show(const std::string& text, const std::string& caption) = 0;
};

// The process's message boxes; until a program sets one, boxes go to stderr.
IMessageBox& MessageBoxService();
void SetMessageBoxService(IMessageBox* box);

// The default caption of a box shown without one (the program's name).
const char* DefaultMessageCaption();

inline void ShowMessageBox(const std::string& text, const std::string& caption = {}) {
    MessageBoxService().Show(text, caption);
}

}  // namespace vexa::platform
