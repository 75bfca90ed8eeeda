#include "platform/gtk/CGtkMessageBox.h"

namespace vexa::platform {

void CGtkMessageBox::Show(const std::string& text, const std::string& caption) {
    GtkWidget* box = gtk_message_dialog_new(m_parent, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER,
                                            GTK_BUTTONS_OK, "%s", text.c_str());
    gtk_window_set_title(GTK_WINDOW(box),
                         caption.empty() ? DefaultMessageCaption() : caption.c_str());
    if (m_parent == nullptr) gtk_window_set_position(GTK_WINDOW(box), GTK_WIN_POS_CENTER);
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
}

}  // namespace vexa::platform
