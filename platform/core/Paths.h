// Per-user folders and process paths.
#pragma once

#include <string>

namespace vexa::platform {

// The variable's value, or "" when it is not set.
std::string GetEnv(const char* name);

// Full path of the running executable ("" when it cannot be read).
std::string ExecutablePath();

// The per-user state folder "$XDG_STATE_HOME/quinbery" (else "~/.local/state/quinbery"),
// without a trailing slash. Created when missing; returned even if creation failed.
std::string StateFolder();

// The user's home folder: $HOME, else the password database.
std::string HomeFolder();

}  // namespace vexa::platform
