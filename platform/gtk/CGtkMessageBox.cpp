#include "platform/gtk/CGtkMessageBox.h"

#include "platform/gtk/GuiInit.h"

namespace vexa::platform {

namespace {

// The program's visible top-level window, which the box then stays on top of.
GtkWindow* VisibleMainWindow() {
    GtkWindow* found = nullptr;
    GList* windows = gtk_window_list_toplevels();
    for (GList* item = windows; item != nullptr && found == nullptr; item = item->next) {
        auto* window = GTK_WINDOW(item->data);
        if (gtk_widget_get_visible(GTK_WIDGET(window)) &&
            gtk_window_get_window_type(window) == GTK_WINDOW_TOPLEVEL && !GTK_IS_DIALOG(window))
            found = window;
    }
    g_list_free(windows);
    return found;
}

}  // namespace

void CGtkMessageBox::Show(const std::string& text, const std::string& caption) {
    // The trace names every box, so a run's log tells what the user was shown.
    if (DebugTraceEnabled()) DebugTrace("message box: " + text);
    GtkWindow* parent = m_parent != nullptr ? m_parent : VisibleMainWindow();
    GtkWidget* box = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER,
                                            GTK_BUTTONS_OK, "%s", text.c_str());
    gtk_window_set_title(GTK_WINDOW(box),
                         caption.empty() ? DefaultMessageCaption() : caption.c_str());
    if (parent == nullptr) gtk_window_set_position(GTK_WINDOW(box), GTK_WIN_POS_CENTER);
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
    if (DebugTraceEnabled()) DebugTrace("message box closed");
}

}  // namespace vexa::platform
