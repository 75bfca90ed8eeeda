// The movie player embedded in the main window: loads a movie by URL, delivers the movie's
// external-interface calls as invoke requests with a synchronous answer, and calls functions
// the movie registered.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vexa::platform {

class IDialogWindow;

class IMovieView {
  public:
    // Gets one invoke request of the movie; whatever SetReturnValue set while it ran is the
    // call's result (nothing set: the movie gets null).
    using CallHandler = std::function<void(const std::string& request)>;

    virtual ~IMovieView() = default;
    virtual void SetCallHandler(CallHandler handler) = 0;
    // Starts the player without a movie, on the origin ("http://host:port/") of the server the
    // movie will come from, so that a later LoadMovie from there only fetches and starts the
    // movie. A view that cannot start early does nothing here.
    virtual void PreparePlayer(const std::string& origin) { (void)origin; }
    // Loads the movie at url; it starts playing once it has loaded. A player that
    // PreparePlayer started on url's origin takes it, any other gets a fresh page.
    virtual void LoadMovie(const std::string& url) = 0;
    virtual void Play() = 0;
    // Only has an effect while a call of the movie is being handled.
    virtual void SetReturnValue(const std::string& value) = 0;
    // Calls a function the movie registered with an invoke request; returns the result as an
    // XML value, or "" when there is none (unknown function, no movie, or a time-out).
    virtual std::string CallFunction(const std::string& request) = 0;
    // Position and size inside the parent window's child area.
    virtual void Place(int x, int y, int width, int height) = 0;
    virtual void Show() = 0;
    virtual void Focus() = 0;
};

// The player of this platform: a web view running Ruffle, inside the window's child area.
// hostPage names the page of the movie-host folder that plays the movie.
std::unique_ptr<IMovieView> CreateMovieView(IDialogWindow& parent,
                                            const std::string& hostPage = "host.html");

// The web engine settings the player starts with, as environment variables (name, value) of
// the web processes.
std::vector<std::pair<std::string, std::string>> MovieEngineSettings();

// Puts MovieEngineSettings into the environment the web processes inherit, keeping any the
// user set. Call it first in main, while no other thread exists.
void TuneMovieEngine();

// The folder holding the host pages, the bridge script and the Ruffle files ("" when none is
// found): installed next to the program's share/ folder, else the build tree's copy.
std::string MovieHostFolder();

}  // namespace vexa::platform
