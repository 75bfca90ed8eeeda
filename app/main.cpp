// The vexa program: the desktop host of the learning movie.
#include <cstdio>
#include <iostream>
#include <memory>

#include "BuildConfig.h"
#include "app/CMireloApp.h"
#include "app/CommandLine.h"
#include "platform/alsa/CAlsaMixerDevices.h"
#include "platform/alsa/CAlsaWaveDevices.h"
#include "platform/audio/IMixerDevices.h"
#include "platform/audio/IWaveDevices.h"
#include "platform/core/MessageBox.h"
#include "platform/draw/IScopeWindow.h"
#include "platform/drawgtk/CGtkScopeWindows.h"
#include "platform/glib/CGlibUiLoop.h"
#include "platform/gtk/CGtkMessageBox.h"
#include "platform/gtk/GuiInit.h"
#include "platform/webkit/IMovieView.h"

int main(int argc, char** argv) {
    // Before any thread exists: the web processes inherit the environment.
    vexa::platform::TuneMovieEngine();
    if (auto exitCode = vexa::HandleCommandLine(argc, argv, std::cout, std::cerr)) return *exitCode;

    // The toolkit gets no arguments: nothing on the command line changes what the program does.
    if (!vexa::platform::InitGui(nullptr, nullptr, "vexa", VEXA_PRODUCT_NAME)) {
        std::fprintf(stderr, "vexa: cannot open the display (is DISPLAY set?)\n");
        return 1;
    }
    vexa::platform::CGlibUiLoop loop;
    vexa::platform::SetUiLoop(&loop);
    vexa::platform::CGtkMessageBox messageBox;
    vexa::platform::SetMessageBoxService(&messageBox);
    vexa::platform::CAlsaWaveDevices waveDevices;
    vexa::platform::SetWaveDevices(&waveDevices);
    vexa::platform::CAlsaMixerDevices mixerDevices;
    vexa::platform::SetMixerDevices(&mixerDevices);
    // The developer's on-screen waveform view; without it the display draws off screen only.
    vexa::platform::CGtkScopeWindows scopeWindows;
    if (vexa::platform::CGtkScopeWindows::Wanted()) vexa::platform::SetScopeWindows(&scopeWindows);

    vexa::CMireloDlg::Platform platform;
    platform.createWindow = [] { return vexa::platform::CreateDialogWindow(); };
    platform.createMovieView = [](vexa::platform::IDialogWindow& parent) {
        return vexa::platform::CreateMovieView(parent);
    };
    vexa::CMireloApp app(platform);
    if (vexa::platform::DebugTraceEnabled()) app.SetTrace(vexa::platform::DebugTrace);
    app.InitInstance();

    vexa::platform::SetScopeWindows(nullptr);
    vexa::platform::SetMixerDevices(nullptr);
    vexa::platform::SetWaveDevices(nullptr);
    vexa::platform::SetMessageBoxService(nullptr);
    vexa::platform::SetUiLoop(nullptr);
    return 0;
}
