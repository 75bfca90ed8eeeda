#include "platform/gtk/GuiInit.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>

#include "platform/gtk/ProgramFont.h"

namespace vexa::platform {

bool InitGui(int* argc, char*** argv, const char* programName, const char* displayName) {
    // Trace lines go to stdout, which the web processes share: one write per line keeps them
    // whole.
    if (DebugTraceEnabled()) std::setvbuf(stdout, nullptr, _IOLBF, 0);
    g_set_prgname(programName);
    g_set_application_name(displayName);
    if (gtk_init_check(argc, argv) == FALSE) return false;
    // The program's own texts are Chinese; the desktop's default font may have no glyph of them.
    ApplyProgramFont();
    return true;
}

bool DebugTraceEnabled() {
    const char* domains = g_getenv("G_MESSAGES_DEBUG");
    if (domains == nullptr) return false;
    return std::strstr(domains, "vexa") != nullptr || std::strstr(domains, "all") != nullptr;
}

void DebugTrace(const std::string& line) {
    g_log("vexa", G_LOG_LEVEL_DEBUG, "%s", line.c_str());
}

}  // namespace vexa::platform
