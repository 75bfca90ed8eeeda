// The program's two base folders, fixed once at start-up: the executable folder, beside which the
// encoder library is installed (in the folder itself in a build tree, in ../lib/vexa in a
// package), and the per-user data folder, which the server publishes.
#pragma once

#include <string>

namespace vexa {

// The executable folder without a trailing slash; "" until FixBaseFolders has run. Written once
// on the dialog's thread before any worker starts; read-only afterwards.
extern std::string g_exeFolder;

// The folder of the running executable, without a trailing slash ("" when it is unknown).
std::string ExecutableFolder();

// The data folder as the environment gives it, without a trailing slash: "APPDATA" when it is
// set, absolute and shorter than 255 bytes, else $XDG_DATA_HOME when absolute, else
// ~/.local/share; followed by "/quinbery/lm". Nothing is created.
std::string DataFolderFromEnvironment();

// Start-up steps 1 and 2: sets g_exeFolder and returns the data folder (the dialog's
// m_dataFolder).
std::string FixBaseFolders();

}  // namespace vexa
