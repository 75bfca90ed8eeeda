// The benchmark's peer of vexa: a window with the same web view that only loads a movie in
// Ruffle (the bare host page) and ends at the movie's first external call, printing the same
// trace line vexa prints for it. With --same-engine it runs the web engine with the settings
// vexa gives it. Usage: vexa_bench_bare_host [--same-engine] <movie url> [host page]
#include <cstdio>
#include <string>

#include "platform/glib/CGlibUiLoop.h"
#include "platform/gtk/GuiInit.h"
#include "platform/gtk/IDialogWindow.h"
#include "platform/webkit/IMovieView.h"

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--same-engine") {
        vexa::platform::TuneMovieEngine();
        --argc;
        ++argv;
    }
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: vexa_bench_bare_host [--same-engine] <movie url> [host page]\n");
        return 2;
    }
    std::string url = argv[1];
    std::string page = argc > 2 ? argv[2] : "bare.html";
    if (!vexa::platform::InitGui(nullptr, nullptr, "vexa-bare-host", "vexa bare host")) {
        std::fprintf(stderr, "bare host: no display\n");
        return 1;
    }
    vexa::platform::CGlibUiLoop loop;
    vexa::platform::SetUiLoop(&loop);
    {
        auto window = vexa::platform::CreateDialogWindow();
        auto view = vexa::platform::CreateMovieView(*window, page);
        window->MoveWindow(0, 0, 970, 607);
        view->Place(0, 0, 970, 607);
        view->Show();
        bool stay = page != "bare.html";
        view->SetCallHandler([&](const std::string& request) {
            std::fprintf(stderr, "movie: first call\n");
            std::printf("%s\n", request.c_str());
            std::fflush(stdout);
            if (request.find("getWelcome") != std::string::npos)
                view->SetReturnValue("<string>client</string>");
            if (!stay || request.find("CloseWinExe") != std::string::npos) window->EndModal(0);
        });
        view->LoadMovie(url);
        view->Focus();
        window->RunModal();
    }
    vexa::platform::SetUiLoop(nullptr);
    return 0;
}
