// The program's command line: "--help" and "--version" answer and end the program; nothing else
// is accepted, so no option can change how the program behaves.
#pragma once

#include <optional>
#include <ostream>

namespace vexa {

// Returns the exit code when the command line ends the program before the window opens
// (0 after --help or --version, 2 after anything it does not know), or nothing to go on.
std::optional<int> HandleCommandLine(int argc, const char* const* argv, std::ostream& out,
                                     std::ostream& err);

}  // namespace vexa
