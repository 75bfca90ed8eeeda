// The movie player on WebKitGTK: a web view whose host page runs Ruffle. The page's own files
// come from the "vexa-host" URI scheme; the page itself is given the origin of the movie's
// server, so the movie and everything it loads are same-origin fetches from that server. The
// movie's calls reach the host as synchronous posts to the scheme.
#pragma once

#include <webkit2/webkit2.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/gtk/ProgramFont.h"
#include "platform/webkit/IMovieView.h"

namespace vexa::platform {

class CWebMovieView : public IMovieView {
  public:
    CWebMovieView(GtkLayout* container, std::string hostFolder, std::string hostPage);
    ~CWebMovieView() override;
    CWebMovieView(const CWebMovieView&) = delete;
    CWebMovieView& operator=(const CWebMovieView&) = delete;

    void SetCallHandler(CallHandler handler) override { m_handler = std::move(handler); }
    void PreparePlayer(const std::string& origin) override;
    void LoadMovie(const std::string& url) override;
    void Play() override;
    void SetReturnValue(const std::string& value) override;
    std::string CallFunction(const std::string& request) override;
    void Place(int x, int y, int width, int height) override;
    void Show() override;
    void Focus() override;

    WebKitWebView* View() const { return m_view; }

  private:
    static void OnSchemeRequest(WebKitURISchemeRequest* request, gpointer self);
    static gboolean OnPageFailed(WebKitWebView* view, WebKitLoadEvent event, gchar* uri,
                                 GError* error, gpointer self);
    // The page that PreparePlayer loaded says its player is there; returns the movie asked for
    // meanwhile ("" for none yet), which the page then loads itself.
    std::string OnPlayerPageReady(const std::string& pageUrl);
    // Loads the host page with movieUrl ("" for none yet) under base.
    bool LoadHostPage(const std::string& movieUrl, const std::string& base);
    void ServeFile(WebKitURISchemeRequest* request, const std::string& path);
    void ServeCall(WebKitURISchemeRequest* request);
    static void ServeDeviceFont(WebKitURISchemeRequest* request);
    void RunScript(const std::string& script);

    GtkLayout* m_container;
    std::string m_hostFolder;
    std::string m_hostPage;
    WebKitWebContext* m_context = nullptr;
    WebKitWebView* m_view = nullptr;
    bool m_placed = false;
    // The origin of the page that PreparePlayer loaded, and whether its player is there; a movie
    // asked for before that waits in m_pendingMovie.
    std::string m_preparedOrigin;
    bool m_pageReady = false;
    std::string m_pendingMovie;
    bool m_pendingPlay = false;
    CallHandler m_handler;
    // One slot per movie call being handled (calls nest when a handler runs a modal loop).
    std::vector<std::optional<std::string>> m_answers;
};

// The language tags for the web view, from the process's locale; never "C" or "POSIX", which
// Ruffle rejects as invalid tags.
std::vector<std::string> PreferredLanguages();

// The player's device-font options for the host page, a JavaScript object literal: the font
// file fetched from url as the font source, and its faces as the player's sans, serif and
// typewriter fonts. "{}" without a font.
std::string DeviceFontOptions(const std::optional<ProgramFont>& font, const std::string& url);

// text as a JavaScript string literal in double quotes.
std::string JsStringLiteral(const std::string& text);

}  // namespace vexa::platform
