// Message boxes as modal GtkMessageDialogs with one OK button, over the program's window when
// there is one.
#pragma once

#include <gtk/gtk.h>

#include "platform/core/MessageBox.h"

namespace vexa::platform {

class CGtkMessageBox : public IMessageBox {
  public:
    void Show(const std::string& text, const std::string& caption) override;
    // The window the boxes are modal to; nullptr for none.
    void SetParent(GtkWindow* parent) { m_parent = parent; }

  private:
    GtkWindow* m_parent = nullptr;
};

}  // namespace vexa::platform
