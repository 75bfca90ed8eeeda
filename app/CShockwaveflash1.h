// The movie's player control as the dialog holds it: the control's methods (LoadMovie, Play,
// CallFunction, SetReturnValue) and its two events (FlashCall, FSCommand), over the platform's
// movie view.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/IFlashControl.h"
#include "platform/gtk/IDialogWindow.h"
#include "platform/webkit/IMovieView.h"

namespace vexa {

class CShockwaveflash1 : public IFlashControl {
  public:
    using ViewFactory =
        std::function<std::unique_ptr<platform::IMovieView>(platform::IDialogWindow& parent)>;
    using FlashCallSink = std::function<void(const std::string& request)>;
    using FSCommandSink = std::function<void(const std::string& command, const std::string& args)>;

    explicit CShockwaveflash1(ViewFactory factory);
    ~CShockwaveflash1() override;
    CShockwaveflash1(const CShockwaveflash1&) = delete;
    CShockwaveflash1& operator=(const CShockwaveflash1&) = delete;

    // Creates the control inside parent at the given place; false when no view could be made.
    bool Create(platform::IDialogWindow& parent, int x, int y, int width, int height, int id);
    // Destroys the control's view (and the player with it); the methods then do nothing.
    void DestroyWindow();
    bool IsCreated() const { return m_view != nullptr; }
    int GetDlgCtrlID() const { return m_id; }

    // The events go to these while the control exists.
    void SetEventSink(FlashCallSink onFlashCall, FSCommandSink onFSCommand);

    // Starts the player before its movie is known, on the origin ("http://host:port/") the movie
    // will come from, so that LoadMovie only has to fetch and start the movie.
    void PreparePlayer(const std::string& origin);
    void LoadMovie(int layer, const std::string& url);
    void Play();
    std::string CallFunction(const std::string& request) override;
    void SetReturnValue(const std::string& value) override;

    void MoveWindow(int x, int y, int width, int height);
    void ShowWindow();
    void SetFocus();

  private:
    ViewFactory m_factory;
    std::unique_ptr<platform::IMovieView> m_view;
    FlashCallSink m_onFlashCall;
    FSCommandSink m_onFSCommand;
    int m_id = 0;
};

}  // namespace vexa
