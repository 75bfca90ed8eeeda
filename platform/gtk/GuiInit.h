// Start-up of the desktop toolkit and the program's debug trace.
#pragma once

#include <string>

namespace vexa::platform {

// Sets the program's name (window class "vexa"/"Vexa") and opens the display. False when there
// is no display to open.
bool InitGui(int* argc, char*** argv, const char* programName, const char* displayName);

// One line of the program's debug trace; printed when G_MESSAGES_DEBUG names "vexa" (or "all").
void DebugTrace(const std::string& line);
bool DebugTraceEnabled();

}  // namespace vexa::platform
