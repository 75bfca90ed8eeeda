// The main dialog's top-level window on GTK 3: a layout container holding the loading text
// and the movie, a modal run on its own main-loop level, and the key and close hooks.
#pragma once

#include <gtk/gtk.h>

#include "platform/gtk/IDialogWindow.h"

namespace vexa::platform {

class CGtkDialogWindow : public IDialogWindow {
  public:
    CGtkDialogWindow();
    ~CGtkDialogWindow() override;
    CGtkDialogWindow(const CGtkDialogWindow&) = delete;
    CGtkDialogWindow& operator=(const CGtkDialogWindow&) = delete;

    void SetEvents(IDialogWindowEvents* events) override { m_events = events; }
    void SetTitle(const std::string& title) override;
    void SetIconName(const std::string& name) override;
    void SetLoadingText(const std::string& text) override;
    void ShowLoadingText(bool visible) override;
    ScreenMetrics GetScreenMetrics() override;
    void SetCaption(bool on) override;
    void MoveWindow(int x, int y, int clientWidth, int clientHeight) override;
    void* ChildContainer() override { return m_fixed; }
    int RunModal() override;
    void EndModal(int result) override;
    void ShowInfoBox(const std::string& title, const std::vector<std::string>& lines) override;

    GtkWindow* Window() const { return GTK_WINDOW(m_window); }

  private:
    static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer self);
    static gboolean OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer self);

    GtkWidget* m_window = nullptr;
    GtkWidget* m_fixed = nullptr;
    GtkWidget* m_loading = nullptr;
    GMainLoop* m_loop = nullptr;
    IDialogWindowEvents* m_events = nullptr;
    int m_result = 0;
};

}  // namespace vexa::platform
