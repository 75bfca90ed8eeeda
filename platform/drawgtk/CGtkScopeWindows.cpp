#include "platform/drawgtk/CGtkScopeWindows.h"

#include <gtk/gtk.h>

#include <cstring>

#include "platform/core/Paths.h"

namespace vexa::platform {
namespace {

// The drawing goes into the offscreen area as everywhere; the window shows a copy of it.
class CGtkScopeWindow : public COffscreenScopeWindow {
  public:
    explicit CGtkScopeWindow(IScopeWindows::EraseHandler erase)
        : COffscreenScopeWindow(CGtkScopeWindows::kWidth, CGtkScopeWindows::kHeight,
                                std::move(erase)) {
        m_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_title(GTK_WINDOW(m_window), "Waveform");
        gtk_window_set_resizable(GTK_WINDOW(m_window), FALSE);
        gtk_window_set_keep_above(GTK_WINDOW(m_window), TRUE);
        GtkWidget* area = gtk_drawing_area_new();
        gtk_widget_set_size_request(area, CGtkScopeWindows::kWidth, CGtkScopeWindows::kHeight);
        g_signal_connect(area, "draw", G_CALLBACK(&CGtkScopeWindow::OnDraw), this);
        gtk_container_add(GTK_CONTAINER(m_window), area);
        // Closing the window only hides it; the next buffer brings it back.
        g_signal_connect(m_window, "delete-event", G_CALLBACK(gtk_widget_hide_on_delete), nullptr);
        m_area = area;
    }
    ~CGtkScopeWindow() override {
        if (m_hideTimer != 0) g_source_remove(m_hideTimer);
        gtk_widget_destroy(m_window);
    }

    std::unique_ptr<ICanvas> GetCanvas() override {
        m_drawingBuffer = true;
        return COffscreenScopeWindow::GetCanvas();
    }

  protected:
    void OnPainted() override {
        if (m_drawingBuffer) {
            m_drawingBuffer = false;
            if (!gtk_widget_get_visible(m_window)) gtk_widget_show_all(m_window);
            if (m_hideTimer != 0) g_source_remove(m_hideTimer);
            m_hideTimer =
                g_timeout_add(CGtkScopeWindows::kHideAfterMs, &CGtkScopeWindow::Hide, this);
        }
        if (gtk_widget_get_visible(m_window)) gtk_widget_queue_draw(m_area);
    }

  private:
    static gboolean OnDraw(GtkWidget*, cairo_t* cr, gpointer self) {
        auto* window = static_cast<CGtkScopeWindow*>(self);
        cairo_set_source_surface(cr, window->Surface(), 0, 0);
        cairo_paint(cr);
        return TRUE;
    }
    static gboolean Hide(gpointer self) {
        auto* window = static_cast<CGtkScopeWindow*>(self);
        window->m_hideTimer = 0;
        gtk_widget_hide(window->m_window);
        return G_SOURCE_REMOVE;
    }

    GtkWidget* m_window = nullptr;
    GtkWidget* m_area = nullptr;
    guint m_hideTimer = 0;
    bool m_drawingBuffer = false;
};

}  // namespace

bool CGtkScopeWindows::Wanted() {
    std::string value = GetEnv("VEXA_SHOW_WAVEFORM");
    return !value.empty() && value != "0";
}

std::unique_ptr<IScopeWindow> CGtkScopeWindows::Create(WindowHandle, EraseHandler erase) {
    return std::make_unique<CGtkScopeWindow>(std::move(erase));
}

}  // namespace vexa::platform
