#include "platform/gtk/CGtkDialogWindow.h"

#include <string>
#include <vector>

#include "BuildConfig.h"
#include "platform/core/Paths.h"

namespace vexa::platform {
namespace {

// The dialog template: 228 x 133 dialog units, the loading text at 46,54 sized 136 x 16, in the
// pixels those units give with the template's 9-point font.
constexpr int kTemplateWidth = 342;
constexpr int kTemplateHeight = 216;
constexpr int kLoadingX = 69;
constexpr int kLoadingY = 88;
constexpr int kLoadingWidth = 204;
constexpr int kLoadingHeight = 26;

std::string FolderOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The icon files of the program: under share/ when installed, next to the sources in a build
// tree.
GList* LoadIconFiles(const std::string& name) {
    static const int kSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};
    std::string prefix = FolderOf(FolderOf(ExecutablePath()));
    for (int place = 0; place < 2; ++place) {
        GList* icons = nullptr;
        for (int size : kSizes) {
            std::string file;
            if (place == 0) {
                file.append(prefix).append("/share/icons/hicolor/");
                file.append(std::to_string(size)).append("x").append(std::to_string(size));
                file.append("/apps/").append(name).append(".png");
            } else {
                file.append(VEXA_SOURCE_DIR).append("/packaging/icons/").append(name);
                file.append("-").append(std::to_string(size)).append(".png");
            }
            if (GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(file.c_str(), nullptr))
                icons = g_list_append(icons, pixbuf);
        }
        if (icons != nullptr) return icons;
    }
    return nullptr;
}

unsigned VirtualKeyOf(guint keyval) {
    switch (keyval) {
        case GDK_KEY_Return:
        case GDK_KEY_KP_Enter:
        case GDK_KEY_ISO_Enter:
            return VK_RETURN;
        case GDK_KEY_Escape:
            return VK_ESCAPE;
        case GDK_KEY_F1:
            return VK_F1;
        default:
            return 0;
    }
}

}  // namespace

CGtkDialogWindow::CGtkDialogWindow() {
    m_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    g_object_ref_sink(m_window);
    // Sized by its content, like a dialog with a modal frame.
    gtk_window_set_resizable(GTK_WINDOW(m_window), FALSE);
    gtk_window_set_position(GTK_WINDOW(m_window), GTK_WIN_POS_CENTER);
    m_fixed = gtk_layout_new(nullptr, nullptr);
    gtk_widget_set_size_request(m_fixed, kTemplateWidth, kTemplateHeight);
    gtk_container_add(GTK_CONTAINER(m_window), m_fixed);
    m_loading = gtk_label_new("");
    gtk_label_set_justify(GTK_LABEL(m_loading), GTK_JUSTIFY_CENTER);
    gtk_widget_set_size_request(m_loading, kLoadingWidth, kLoadingHeight);
    gtk_layout_put(GTK_LAYOUT(m_fixed), m_loading, kLoadingX, kLoadingY);
    g_signal_connect(m_window, "delete-event", G_CALLBACK(OnDelete), this);
    g_signal_connect(m_window, "key-press-event", G_CALLBACK(OnKeyPress), this);
    m_loop = g_main_loop_new(nullptr, FALSE);
}

CGtkDialogWindow::~CGtkDialogWindow() {
    g_signal_handlers_disconnect_by_data(m_window, this);
    gtk_widget_destroy(m_window);
    g_object_unref(m_window);
    g_main_loop_unref(m_loop);
}

void CGtkDialogWindow::SetTitle(const std::string& title) {
    gtk_window_set_title(GTK_WINDOW(m_window), title.c_str());
}

void CGtkDialogWindow::SetIconName(const std::string& name) {
    gtk_window_set_icon_name(GTK_WINDOW(m_window), name.c_str());
    if (gtk_icon_theme_has_icon(gtk_icon_theme_get_default(), name.c_str())) return;
    if (GList* icons = LoadIconFiles(name)) {
        gtk_window_set_icon_list(GTK_WINDOW(m_window), icons);
        g_list_free_full(icons, g_object_unref);
    }
}

void CGtkDialogWindow::SetLoadingText(const std::string& text) {
    gtk_label_set_text(GTK_LABEL(m_loading), text.c_str());
}

void CGtkDialogWindow::ShowLoadingText(bool visible) {
    gtk_widget_set_visible(m_loading, visible ? TRUE : FALSE);
}

ScreenMetrics CGtkDialogWindow::GetScreenMetrics() {
    ScreenMetrics metrics;
    GdkDisplay* display = gtk_widget_get_display(m_window);
    GdkMonitor* monitor = nullptr;
    if (GdkWindow* own = gtk_widget_get_window(m_window))
        monitor = gdk_display_get_monitor_at_window(display, own);
    if (monitor == nullptr) monitor = gdk_display_get_primary_monitor(display);
    if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
    if (monitor != nullptr) {
        GdkRectangle area;
        gdk_monitor_get_geometry(monitor, &area);
        metrics.width = area.width;
        metrics.height = area.height;
    }
    // The desktop draws frames outside the window's own area.
    metrics.borderWidth = 0;
    metrics.borderHeight = 0;
    return metrics;
}

void CGtkDialogWindow::SetCaption(bool on) {
    // A desktop with a window manager takes the full-screen state and covers the monitor with
    // the window, above its panels; without one the move and size that follow do the covering.
    if (on) {
        gtk_window_unfullscreen(GTK_WINDOW(m_window));
        gtk_window_set_decorated(GTK_WINDOW(m_window), TRUE);
    } else {
        gtk_window_set_decorated(GTK_WINDOW(m_window), FALSE);
        gtk_window_fullscreen(GTK_WINDOW(m_window));
    }
}

void CGtkDialogWindow::MoveWindow(int x, int y, int clientWidth, int clientHeight) {
    // The window's own area is the client area: a window manager draws its frame outside it
    // and, with the default north-west gravity, puts the frame's corner at x, y. Without one
    // there is no frame and the window itself goes there.
    gtk_widget_set_size_request(m_fixed, clientWidth, clientHeight);
    gtk_window_move(GTK_WINDOW(m_window), x, y);
    gtk_window_resize(GTK_WINDOW(m_window), clientWidth, clientHeight);
}

int CGtkDialogWindow::RunModal() {
    gtk_widget_show_all(m_window);
    gtk_window_present(GTK_WINDOW(m_window));
    g_main_loop_run(m_loop);
    gtk_widget_hide(m_window);
    return m_result;
}

void CGtkDialogWindow::EndModal(int result) {
    m_result = result;
    g_main_loop_quit(m_loop);
}

void CGtkDialogWindow::ShowInfoBox(const std::string& title,
                                   const std::vector<std::string>& lines) {
    GtkWidget* box = gtk_dialog_new_with_buttons(title.c_str(), GTK_WINDOW(m_window),
                                                 GTK_DIALOG_MODAL, "_OK", GTK_RESPONSE_OK, nullptr);
    gtk_window_set_resizable(GTK_WINDOW(box), FALSE);
    GtkWidget* area = gtk_dialog_get_content_area(GTK_DIALOG(box));
    gtk_container_set_border_width(GTK_CONTAINER(area), 16);
    gtk_box_set_spacing(GTK_BOX(area), 6);
    for (const std::string& line : lines) {
        GtkWidget* label = gtk_label_new(line.c_str());
        gtk_label_set_xalign(GTK_LABEL(label), 0.0F);
        gtk_label_set_selectable(GTK_LABEL(label), TRUE);
        gtk_box_pack_start(GTK_BOX(area), label, FALSE, FALSE, 0);
    }
    gtk_widget_show_all(box);
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
}

gboolean CGtkDialogWindow::OnDelete(GtkWidget*, GdkEvent*, gpointer self) {
    auto* window = static_cast<CGtkDialogWindow*>(self);
    if (window->m_events != nullptr) window->m_events->OnCloseRequest();
    return TRUE;  // the dialog decides when the window goes
}

gboolean CGtkDialogWindow::OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer self) {
    auto* window = static_cast<CGtkDialogWindow*>(self);
    unsigned key = VirtualKeyOf(event->keyval);
    if (key == 0 || window->m_events == nullptr) return FALSE;
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window->m_window));
    bool childHasFocus = focus != nullptr && focus != window->m_fixed &&
                         gtk_widget_is_ancestor(focus, window->m_fixed);
    if (key == VK_F1 && (event->state & GDK_MODIFIER_MASK & ~GDK_MOD2_MASK) == 0) {
        window->m_events->OnAboutRequest();
        return TRUE;
    }
    return window->m_events->OnKeyDown(key, childHasFocus) ? TRUE : FALSE;
}

std::unique_ptr<IDialogWindow> CreateDialogWindow() {
    return std::make_unique<CGtkDialogWindow>();
}

}  // namespace vexa::platform
