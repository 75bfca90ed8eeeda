#include "platform/webkit/CWebMovieView.h"

#include <gio/gio.h>

#include <cstdio>
#include <memory>

#include "BuildConfig.h"
#include "platform/core/Paths.h"
#include "platform/gtk/GuiInit.h"
#include "platform/gtk/IDialogWindow.h"
#include "platform/gtk/ProgramFont.h"

namespace vexa::platform {
namespace {

constexpr const char* kScheme = "vexa-host";
constexpr const char* kPagePrefix = "vexa-host://page/";
// The installed font the movie's device-font text is drawn in.
constexpr const char* kDeviceFontUrl = "vexa-host://font/program";
// How long a call into the movie may take before the host gives up on its answer.
constexpr guint kCallFunctionTimeoutMs = 5000;

std::string FolderOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool IsFile(const std::string& path) {
    return g_file_test(path.c_str(), G_FILE_TEST_IS_REGULAR) != FALSE;
}

const char* ContentTypeOf(const std::string& path) {
    auto dot = path.rfind('.');
    std::string ext = dot == std::string::npos ? std::string() : path.substr(dot + 1);
    if (ext == "js") return "text/javascript; charset=utf-8";
    if (ext == "wasm") return "application/wasm";
    if (ext == "html") return "text/html; charset=utf-8";
    if (ext == "css") return "text/css; charset=utf-8";
    if (ext == "map" || ext == "json") return "application/json";
    if (ext == "ttc") return "font/collection";
    if (ext == "ttf" || ext == "otf") return ext == "ttf" ? "font/ttf" : "font/otf";
    return "application/octet-stream";
}

// "scheme://host:port/" of an absolute URL; "" when it has none.
std::string OriginRootOf(const std::string& url) {
    auto schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos) return {};
    auto pathStart = url.find('/', schemeEnd + 3);
    return (pathStart == std::string::npos ? url : url.substr(0, pathStart)) + "/";
}

void FinishWithBytes(WebKitURISchemeRequest* request, GBytes* bytes, const char* contentType,
                     int status) {
    GInputStream* stream = g_memory_input_stream_new_from_bytes(bytes);
    WebKitURISchemeResponse* response =
        webkit_uri_scheme_response_new(stream, static_cast<gint64>(g_bytes_get_size(bytes)));
    webkit_uri_scheme_response_set_status(response, static_cast<guint>(status), nullptr);
    webkit_uri_scheme_response_set_content_type(response, contentType);
    SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
    // The page runs on the movie server's origin, so its fetches here are cross-origin.
    soup_message_headers_append(headers, "Access-Control-Allow-Origin", "*");
    soup_message_headers_append(headers, "Content-Type", contentType);
    soup_message_headers_append(headers, "Cache-Control", "no-store");
    webkit_uri_scheme_response_set_http_headers(response, headers);
    webkit_uri_scheme_request_finish_with_response(request, response);
    g_object_unref(response);
    g_object_unref(stream);
}

void FinishWithText(WebKitURISchemeRequest* request, const std::string& text, int status) {
    GBytes* bytes = g_bytes_new(text.data(), text.size());
    FinishWithBytes(request, bytes, "text/plain; charset=utf-8", status);
    g_bytes_unref(bytes);
}

std::string ReadAll(GInputStream* stream) {
    std::string body;
    if (stream == nullptr) return body;
    char buffer[16384];
    for (;;) {
        gssize n = g_input_stream_read(stream, buffer, sizeof buffer, nullptr, nullptr);
        if (n <= 0) break;
        body.append(buffer, static_cast<size_t>(n));
    }
    return body;
}

gboolean OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*,
                       gpointer) {
    return TRUE;  // the movie player draws its own menu; the browser's has nothing to offer
}

gboolean OnDecidePolicy(WebKitWebView* view, WebKitPolicyDecision* decision,
                        WebKitPolicyDecisionType type, gpointer) {
    if (type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) return FALSE;
    // Links the movie opens in a new window go to the desktop's browser.
    auto* action = webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    if (uri != nullptr && (g_str_has_prefix(uri, "http://") || g_str_has_prefix(uri, "https://"))) {
        GtkWidget* top = gtk_widget_get_toplevel(GTK_WIDGET(view));
        gtk_show_uri_on_window(GTK_IS_WINDOW(top) ? GTK_WINDOW(top) : nullptr, uri,
                               GDK_CURRENT_TIME, nullptr);
    }
    webkit_policy_decision_ignore(decision);
    return TRUE;
}

gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer) {
    DebugTrace(std::string("movie: host page failed to load: ") + (uri ? uri : "") + ": " +
               (error != nullptr ? error->message : ""));
    return FALSE;
}

void OnWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer) {
    DebugTrace("movie: web process ended, reason " + std::to_string(static_cast<int>(reason)));
}

}  // namespace

std::vector<std::string> PreferredLanguages() {
    std::vector<std::string> tags;
    for (const gchar* const* name = g_get_language_names(); *name != nullptr; ++name) {
        std::string tag = *name;
        tag = tag.substr(0, tag.find_first_of(".@"));
        if (tag.empty() || tag == "C" || tag == "POSIX") continue;
        bool valid = true;
        for (char& c : tag) {
            if (c == '_') c = '-';
            bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
            if (!alnum && c != '-') valid = false;
        }
        if (!valid || tag.front() == '-' || tag.back() == '-') continue;
        bool seen = false;
        for (const std::string& have : tags) seen = seen || have == tag;
        if (!seen) tags.push_back(tag);
    }
    if (tags.empty()) tags.emplace_back("en-US");
    return tags;
}

std::string JsStringLiteral(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else if (c == 0xE2 && i + 2 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                   (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
                    static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
            // Line and paragraph separators end a string literal in older engines.
            out += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
            i += 2;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
    return out;
}

namespace {

std::string JsStringList(const std::vector<std::string>& items) {
    std::string out = "[";
    for (const std::string& item : items) {
        if (out.size() > 1) out += ",";
        out += JsStringLiteral(item);
    }
    return out + "]";
}

}  // namespace

std::string DeviceFontOptions(const std::optional<ProgramFont>& font, const std::string& url) {
    if (!font || font->faces.empty()) return "{}";
    // The player names each face of the file after the first Unicode full name in its name
    // table, whatever the language: for WenQuanYi Micro Hei that is the Traditional Chinese one,
    // not "WenQuanYi Micro Hei". Every full name is listed, and the URL, which the player uses
    // for a face without any.
    auto namesOf = [&](const FontFace& face) {
        std::vector<std::string> names = face.fullNames;
        names.push_back(url);
        return names;
    };
    const FontFace& text = font->faces.front();
    std::vector<std::string> typewriter;
    for (const FontFace& face : font->faces)
        if (face.monospace) typewriter = namesOf(face);
    for (const std::string& name : namesOf(text)) typewriter.push_back(name);
    // The player falls back to its sans font for a name it has no font for, which is how the
    // Chinese Windows font names movies ask for ("宋体", "SimHei", ...) reach this one.
    return "{\"fontSources\":" + JsStringList({url}) +
           ",\"defaultFonts\":{\"sans\":" + JsStringList(namesOf(text)) +
           ",\"serif\":" + JsStringList(namesOf(text)) +
           ",\"typewriter\":" + JsStringList(typewriter) + "}}";
}

std::vector<std::pair<std::string, std::string>> MovieEngineSettings() {
    // The script engine hands a WebAssembly function to its optimizing compiler once its calls
    // and loop turns count 50,000. The player's own start runs much of its 14 MB of code that
    // often, once, and on a two-core machine compiling all of that again, optimized, takes the
    // processor the start needs: a movie's first call came after 2.7 s instead of 1.4 s. With
    // a bar forty times as high, only code that stays busy (drawing, the movie's own loops) is
    // optimized, a little later.
    return {{"JSC_thresholdForOMGOptimizeAfterWarmUp", "2000000"}};
}

void TuneMovieEngine() {
    for (const auto& [name, value] : MovieEngineSettings())
        g_setenv(name.c_str(), value.c_str(), FALSE);
}

std::string MovieHostFolder() {
    std::string exeFolder = FolderOf(ExecutablePath());
    const std::string candidates[] = {
        FolderOf(exeFolder) + "/share/vexa/movie",
        exeFolder + "/movie",
        std::string(VEXA_BINARY_DIR) + "/movie",
    };
    for (const std::string& folder : candidates) {
        if (IsFile(folder + "/host.html") && IsFile(folder + "/ruffle/ruffle.js")) return folder;
    }
    return {};
}

CWebMovieView::CWebMovieView(GtkLayout* container, std::string hostFolder, std::string hostPage)
    : m_container(container), m_hostFolder(std::move(hostFolder)), m_hostPage(std::move(hostPage)) {
    // A private, ephemeral context: nothing of the movie's state outlives the run.
    WebKitWebsiteDataManager* data = webkit_website_data_manager_new_ephemeral();
    m_context = webkit_web_context_new_with_website_data_manager(data);
    g_object_unref(data);
    webkit_web_context_set_cache_model(m_context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    std::vector<std::string> languages = PreferredLanguages();
    std::vector<const gchar*> languageList;
    languageList.reserve(languages.size() + 1);
    for (const std::string& tag : languages) languageList.push_back(tag.c_str());
    languageList.push_back(nullptr);
    webkit_web_context_set_preferred_languages(m_context, languageList.data());
    webkit_web_context_register_uri_scheme(m_context, kScheme, OnSchemeRequest, this, nullptr);
    WebKitSecurityManager* security = webkit_web_context_get_security_manager(m_context);
    webkit_security_manager_register_uri_scheme_as_cors_enabled(security, kScheme);

    // The movie's sound starts with the movie, as in the desktop player.
    WebKitWebsitePolicies* policies =
        webkit_website_policies_new_with_policies("autoplay", WEBKIT_AUTOPLAY_ALLOW, nullptr);
    m_view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", m_context,
                                          "website-policies", policies, nullptr));
    g_object_unref(policies);
    g_object_ref_sink(m_view);
    WebKitSettings* settings = webkit_web_view_get_settings(m_view);
    webkit_settings_set_enable_write_console_messages_to_stdout(settings,
                                                                DebugTraceEnabled() ? TRUE : FALSE);
    webkit_settings_set_enable_developer_extras(settings, FALSE);
    webkit_settings_set_enable_back_forward_navigation_gestures(settings, FALSE);
    GdkRGBA black = {0, 0, 0, 1};
    webkit_web_view_set_background_color(m_view, &black);
    gtk_widget_set_can_focus(GTK_WIDGET(m_view), TRUE);
    g_signal_connect(m_view, "context-menu", G_CALLBACK(OnContextMenu), nullptr);
    g_signal_connect(m_view, "decide-policy", G_CALLBACK(OnDecidePolicy), nullptr);
    g_signal_connect(m_view, "load-failed", G_CALLBACK(OnLoadFailed), nullptr);
    g_signal_connect(m_view, "web-process-terminated", G_CALLBACK(OnWebProcessTerminated), nullptr);
    g_signal_connect(m_view, "load-failed", G_CALLBACK(OnPageFailed), this);
}

CWebMovieView::~CWebMovieView() {
    g_signal_handlers_disconnect_by_data(m_view, nullptr);
    g_signal_handlers_disconnect_by_data(m_view, this);
    if (m_placed) gtk_container_remove(GTK_CONTAINER(m_container), GTK_WIDGET(m_view));
    gtk_widget_destroy(GTK_WIDGET(m_view));
    g_object_unref(m_view);
    // Dropping the context ends its web and network processes.
    g_object_unref(m_context);
}

bool CWebMovieView::LoadHostPage(const std::string& movieUrl, const std::string& base) {
    gchar* page = nullptr;
    gsize length = 0;
    std::string path = m_hostFolder + "/" + m_hostPage;
    if (m_hostFolder.empty() || !g_file_get_contents(path.c_str(), &page, &length, nullptr)) {
        DebugTrace("movie: host page missing: " + path);
        return false;
    }
    std::string html(page, length);
    g_free(page);
    // A page still on its way would be committed over this one.
    webkit_web_view_stop_loading(m_view);
    const std::string token = "{{MOVIE_URL}}";
    std::string literal = movieUrl.empty() ? std::string("null") : JsStringLiteral(movieUrl);
    for (auto pos = html.find(token); pos != std::string::npos; pos = html.find(token, pos)) {
        html.replace(pos, token.size(), literal);
        pos += literal.size();
    }
    const std::string traceToken = "{{TRACE}}";
    if (auto pos = html.find(traceToken); pos != std::string::npos)
        html.replace(pos, traceToken.size(), DebugTraceEnabled() ? "true" : "false");
    const std::string fontsToken = "{{DEVICE_FONTS}}";
    if (auto pos = html.find(fontsToken); pos != std::string::npos)
        html.replace(pos, fontsToken.size(), DeviceFontOptions(FindProgramFont(), kDeviceFontUrl));
    webkit_web_view_load_alternate_html(m_view, html.c_str(), base.c_str(), base.c_str());
    return true;
}

void CWebMovieView::PreparePlayer(const std::string& origin) {
    std::string base = OriginRootOf(origin);
    if (base.empty()) return;
    m_pageReady = false;
    m_pendingMovie.clear();
    m_pendingPlay = false;
    m_preparedOrigin = LoadHostPage("", base) ? base : std::string();
}

gboolean CWebMovieView::OnPageFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError*,
                                     gpointer self) {
    auto* view = static_cast<CWebMovieView*>(self);
    if (uri == nullptr || view->m_preparedOrigin.empty() || view->m_pageReady ||
        OriginRootOf(uri) != view->m_preparedOrigin)
        return FALSE;
    // The started player's page did not come: the movie gets a page of its own instead.
    std::string movie = std::move(view->m_pendingMovie);
    view->m_preparedOrigin.clear();
    view->m_pendingMovie.clear();
    view->m_pendingPlay = false;
    if (!movie.empty()) view->LoadHostPage(movie, OriginRootOf(movie));
    return FALSE;
}

std::string CWebMovieView::OnPlayerPageReady(const std::string& pageUrl) {
    // An earlier page that was replaced before it finished may still report; only the page
    // PreparePlayer loaded last takes the movie.
    if (m_preparedOrigin.empty() || OriginRootOf(pageUrl) != m_preparedOrigin) return {};
    m_pageReady = true;
    DebugTrace("movie: player page ready");
    std::string movie = std::move(m_pendingMovie);
    m_pendingMovie.clear();
    if (m_pendingPlay) {
        // Runs once the page's own script has gone on with the movie.
        m_pendingPlay = false;
        RunScript("window.vexaHost && window.vexaHost.play();");
    }
    return movie;
}

void CWebMovieView::LoadMovie(const std::string& url) {
    // The page takes the movie server's origin; its own files come from the scheme.
    std::string base = OriginRootOf(url);
    if (!base.empty() && base == m_preparedOrigin) {
        DebugTrace("movie: the started player takes the movie");
        if (m_pageReady)
            RunScript("window.vexaHost && window.vexaHost.load(" + JsStringLiteral(url) + ");");
        else
            m_pendingMovie = url;
        return;
    }
    m_preparedOrigin.clear();
    m_pageReady = false;
    m_pendingMovie.clear();
    m_pendingPlay = false;
    if (base.empty()) base = kPagePrefix;
    LoadHostPage(url, base);
}

void CWebMovieView::Play() {
    if (!m_preparedOrigin.empty() && !m_pageReady) {
        m_pendingPlay = true;
        return;
    }
    RunScript("window.vexaHost && window.vexaHost.play();");
}

void CWebMovieView::SetReturnValue(const std::string& value) {
    if (!m_answers.empty()) m_answers.back() = value;
}

void CWebMovieView::RunScript(const std::string& script) {
    webkit_web_view_evaluate_javascript(m_view, script.c_str(), static_cast<gssize>(script.size()),
                                        nullptr, nullptr, nullptr, nullptr, nullptr);
}

std::string CWebMovieView::CallFunction(const std::string& request) {
    std::string script =
        "window.vexaHost ? window.vexaHost.callFunction(" + JsStringLiteral(request) + ") : \"\"";
    if (!m_answers.empty()) {
        // The page waits on this very call; waiting for it here would hold both sides. The
        // call still runs once the movie's call has been answered.
        RunScript(script);
        return {};
    }
    struct Pending {
        bool done = false;
        std::string result;
        GCancellable* cancel = g_cancellable_new();
        ~Pending() { g_object_unref(cancel); }
    };
    auto pending = std::make_shared<Pending>();
    auto* keep = new std::shared_ptr<Pending>(pending);
    webkit_web_view_evaluate_javascript(
        m_view, script.c_str(), static_cast<gssize>(script.size()), nullptr, nullptr,
        pending->cancel,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<std::shared_ptr<Pending>> slot(
                static_cast<std::shared_ptr<Pending>*>(data));
            Pending& p = **slot;
            GError* error = nullptr;
            JSCValue* value =
                webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
            if (value != nullptr) {
                if (jsc_value_is_string(value)) {
                    gchar* text = jsc_value_to_string(value);
                    p.result = text;
                    g_free(text);
                }
                g_object_unref(value);
            }
            if (error != nullptr) g_error_free(error);
            p.done = true;
        },
        keep);
    // A timer wakes the loop at the deadline should nothing else happen meanwhile.
    auto expired = std::make_shared<bool>(false);
    guint wake = g_timeout_add_full(
        G_PRIORITY_DEFAULT, kCallFunctionTimeoutMs,
        [](gpointer data) -> gboolean {
            **static_cast<std::shared_ptr<bool>*>(data) = true;
            return G_SOURCE_REMOVE;
        },
        new std::shared_ptr<bool>(expired),
        [](gpointer data) { delete static_cast<std::shared_ptr<bool>*>(data); });
    while (!pending->done && !*expired) g_main_context_iteration(nullptr, TRUE);
    if (!*expired) g_source_remove(wake);
    if (!pending->done) {
        g_cancellable_cancel(pending->cancel);
        DebugTrace("movie: no answer to a call into the movie in time");
        return {};
    }
    return pending->result;
}

void CWebMovieView::Place(int x, int y, int width, int height) {
    gtk_widget_set_size_request(GTK_WIDGET(m_view), width, height);
    if (!m_placed) {
        gtk_layout_put(m_container, GTK_WIDGET(m_view), x, y);
        m_placed = true;
    } else {
        gtk_layout_move(m_container, GTK_WIDGET(m_view), x, y);
    }
}

void CWebMovieView::Show() {
    gtk_widget_show(GTK_WIDGET(m_view));
}

void CWebMovieView::Focus() {
    gtk_widget_grab_focus(GTK_WIDGET(m_view));
}

void CWebMovieView::OnSchemeRequest(WebKitURISchemeRequest* request, gpointer self) {
    auto* view = static_cast<CWebMovieView*>(self);
    std::string uri = webkit_uri_scheme_request_get_uri(request);
    if (uri.rfind("vexa-host://bridge/call", 0) == 0) {
        view->ServeCall(request);
    } else if (uri.rfind("vexa-host://bridge/ready", 0) == 0) {
        std::string page = ReadAll(webkit_uri_scheme_request_get_http_body(request));
        std::string movie = view->OnPlayerPageReady(page);
        FinishWithText(request, movie, movie.empty() ? 204 : 200);
    } else if (uri.rfind("vexa-host://bridge/log", 0) == 0) {
        DebugTrace("page: " + ReadAll(webkit_uri_scheme_request_get_http_body(request)));
        FinishWithText(request, "", 204);
    } else if (uri == kDeviceFontUrl) {
        ServeDeviceFont(request);
    } else if (uri.rfind(kPagePrefix, 0) == 0) {
        std::string path = uri.substr(std::string(kPagePrefix).size());
        path = path.substr(0, path.find_first_of("?#"));
        view->ServeFile(request, path);
    } else {
        FinishWithText(request, "not found", 404);
    }
}

void CWebMovieView::ServeFile(WebKitURISchemeRequest* request, const std::string& path) {
    // Only plain relative names below the host folder.
    bool safe = !path.empty() && path.front() != '/' && path.find('\\') == std::string::npos;
    for (size_t start = 0; safe && start <= path.size();) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") safe = false;
        start = end + 1;
    }
    gchar* contents = nullptr;
    gsize length = 0;
    std::string file = m_hostFolder + "/" + path;
    if (!safe || !g_file_get_contents(file.c_str(), &contents, &length, nullptr)) {
        FinishWithText(request, "not found", 404);
        return;
    }
    GBytes* bytes = g_bytes_new_take(contents, length);
    FinishWithBytes(request, bytes, ContentTypeOf(path), 200);
    g_bytes_unref(bytes);
}

void CWebMovieView::ServeDeviceFont(WebKitURISchemeRequest* request) {
    const std::optional<ProgramFont>& font = FindProgramFont();
    GMappedFile* mapped = font ? g_mapped_file_new(font->file.c_str(), FALSE, nullptr) : nullptr;
    if (mapped == nullptr) {
        DebugTrace("movie: no device font to serve");
        FinishWithText(request, "not found", 404);
        return;
    }
    GBytes* bytes = g_mapped_file_get_bytes(mapped);
    g_mapped_file_unref(mapped);
    FinishWithBytes(request, bytes, ContentTypeOf(font->file), 200);
    g_bytes_unref(bytes);
}

void CWebMovieView::ServeCall(WebKitURISchemeRequest* request) {
    const char* method = webkit_uri_scheme_request_get_http_method(request);
    if (method == nullptr || g_strcmp0(method, "POST") != 0) {
        FinishWithText(request, "", 405);
        return;
    }
    std::string body = ReadAll(webkit_uri_scheme_request_get_http_body(request));
    // The request stays alive while the handler runs, which may end the program's window.
    g_object_ref(request);
    m_answers.emplace_back();
    if (m_handler) m_handler(body);
    std::optional<std::string> answer = std::move(m_answers.back());
    m_answers.pop_back();
    FinishWithText(request, answer.value_or(std::string()), answer ? 200 : 204);
    g_object_unref(request);
}

std::unique_ptr<IMovieView> CreateMovieView(IDialogWindow& parent, const std::string& hostPage) {
    return std::make_unique<CWebMovieView>(GTK_LAYOUT(parent.ChildContainer()), MovieHostFolder(),
                                           hostPage);
}

}  // namespace vexa::platform
